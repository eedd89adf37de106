#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Unicode and locale services, over ICU.
namespace flenn::Text {

// UTF-8 with every invalid sequence replaced by U+FFFD.
std::string repairedUTF8(std::string_view bytes);

// The form in which names collide on a case- and normalization-insensitive file system:
// canonical composition (NFC), then lower case.
std::string folded(std::string_view name);

// Orders two paths the way a file browser does: numbers by value, letter case ignored.
// Negative, zero or positive.
int compareLikeFileBrowser(std::string_view a, std::string_view b);

// An integer with the digit grouping of the user's locale (1,234,567).
std::string groupedInteger(std::int64_t value);

// A number in the locale's default style ("120").
std::string plainNumber(double value);

} // namespace flenn::Text
