#pragma once

#include <cstdio>
#include <string_view>

// Writes one line (a line feed is added) under the program's one output lock, in one write.
void emit(std::string_view line, std::FILE *stream);

// Marks the run as failed; read when the run ends.
void markFailed();
bool anyFailed();
