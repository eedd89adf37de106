#pragma once

#include <compare>

namespace flenn {

// A mosaic of columns × rows tiles cut from a photo, each at least tilePixels wide and high.
struct TileSample {
    int columns = 0;
    int rows = 0;
    int tilePixels = 0;

    friend bool operator==(const TileSample &, const TileSample &) = default;
};

} // namespace flenn
