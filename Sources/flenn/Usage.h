#pragma once

// Writes the usage text on standard error and ends the process with status 2.
[[noreturn]] void printUsageAndExit();
