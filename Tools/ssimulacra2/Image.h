#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "Memory.h"

namespace flenn::ssimulacra2 {

// Decoded samples of one input file, still in the file's own encoding.
struct Image {
    int width = 0;
    int height = 0;
    int channels = 0;   // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
    int maxValue = 255; // 2^bits - 1; above 255 the samples are native-endian uint16_t
    // Exponent of a pure power-law encoding (encoded = linear^gamma); none means sRGB.
    std::optional<double> gamma;
    ByteArray samples; // rows of interleaved channels, no padding

    bool hasAlpha() const { return channels == 2 || channels == 4; }
    bool wide() const { return maxValue > 255; }
    std::size_t rowBytes() const {
        return std::size_t(width) * std::size_t(channels) * (wide() ? 2 : 1);
    }
};

} // namespace flenn::ssimulacra2
