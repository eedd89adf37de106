#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MatchedEstimator.h"

namespace flenn {

// The measured features and size curves of one photo (JPEGSession::measure).
struct Measurements {
    std::map<std::string, double> features;        // every named value
    std::vector<int> grid;                         // strengths in per mille of the standard tables
    std::vector<double> estimatedBits;             // estimated size at each grid strength
    std::vector<double> matchedGrid;               // matched scales
    std::vector<double> matchedBits;               // estimated matched size at each of them
    std::vector<std::vector<double>> matchedParts; // its five parts
    std::shared_ptr<const MatchedEstimator> matched; // null when absent; owns the engine record
    double lumaPixels = 0;
    double sourceBits = 0; // entropy-coded bits of the source

    // Reads everything from the engine record that the estimator owns.
    static Measurements reading(std::shared_ptr<const MatchedEstimator> estimator);
};

} // namespace flenn
