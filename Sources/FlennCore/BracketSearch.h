#pragma once

#include <cstdint>
#include <functional>

namespace flenn::Compressor {

// The checker's score and the byte count of one measured step.
struct Measurement {
    double score = 0;
    std::int64_t bytes = 0;
};

// Finds the highest step whose score reaches the target: expands by half while steps pass,
// then narrows the bracket, aiming by interpolation, until the bracket is closed or cannot
// change the size by more than 1.5 %. Step 20 passes unmeasured with score 100 and `passBytes`.
int bracketSearch(double target, const std::function<Measurement(int step)> &measure,
                  std::int64_t passBytes, int startStep);

// The first step tried for a floor.
int startStep(double floor);

} // namespace flenn::Compressor
