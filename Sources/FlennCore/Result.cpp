#include "Result.h"

namespace flenn {

std::string_view rawValue(Outcome outcome) {
    switch (outcome) {
    case Outcome::copied: return "Copied";
    case Outcome::lossless: return "Repacked";
    case Outcome::flenned: return "Flenned";
    }
    return "Copied";
}

std::optional<Outcome> outcomeNamed(std::string_view raw) {
    for (Outcome outcome : {Outcome::copied, Outcome::lossless, Outcome::flenned})
        if (rawValue(outcome) == raw)
            return outcome;
    return std::nullopt;
}

} // namespace flenn
