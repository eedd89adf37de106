#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace flenn::Compressor {

// Prints one diagnostic line on standard output, its items separated by one space, in one write
// so lines of photos compressed at the same time never interleave.
void printDebugLine(std::initializer_list<std::string_view> items);

// A number as the diagnostic lines show it.
std::string debugNumber(double value, int decimals = 0);

} // namespace flenn::Compressor
