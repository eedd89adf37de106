#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "RequantSettings.h"

namespace flenn {

enum class Outcome {
    copied,   // the source bytes stay
    lossless, // same pixels, rewritten
    flenned,  // lossy rewrite
};

// "Copied", "Repacked" or "Flenned".
std::string_view rawValue(Outcome outcome);
std::optional<Outcome> outcomeNamed(std::string_view rawValue);

// What happened to one photo.
struct Result {
    std::int64_t before = 0;
    std::int64_t after = 0;
    double score = 100;
    Outcome outcome = Outcome::copied;
    std::optional<RequantSettings> settings;
    std::optional<std::string> note;

    double saved() const { return before <= 0 ? 0 : 1 - double(after) / double(before); }
};

} // namespace flenn
