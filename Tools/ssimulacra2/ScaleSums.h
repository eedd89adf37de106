#pragma once

#include <array>

namespace flenn::ssimulacra2 {

// The three error maps of one channel at one scale.
enum Map { ssim, artifact, detailLost, mapCount };

// What one scale contributes: for each channel (X, Y, B) and map, the sum of the errors and of
// their fourth powers over all pixels of the scale.
struct ScaleSums {
    int width = 0, height = 0;
    std::array<std::array<double, mapCount>, 3> sum{};
    std::array<std::array<double, mapCount>, 3> sum4{};
};

} // namespace flenn::ssimulacra2
