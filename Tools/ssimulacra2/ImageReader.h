#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace flenn::ssimulacra2 {

// What a decoder knows once it has read a file's header.
struct ImageInfo {
    int width = 0;
    int height = 0;
    int channels = 0;   // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
    int maxValue = 255; // 2^bits - 1; above 255 the samples are native-endian uint16_t
    // Exponent of a pure power-law encoding (encoded = linear^gamma); none means sRGB.
    std::optional<double> gamma;

    bool hasAlpha() const { return channels == 2 || channels == 4; }
    bool wide() const { return maxValue > 255; }
    std::size_t rowBytes() const {
        return std::size_t(width) * std::size_t(channels) * (wide() ? 2 : 1);
    }
};

// The rows of one image, decoded one at a time from the top, so that the samples of a whole
// image never have to be in memory at once. Damaged pixel data surfaces as an ImageError from
// nextRow().
class ImageReader {
  public:
    virtual ~ImageReader() = default;
    const ImageInfo &info() const { return info_; }

    // The interleaved samples of the next row, valid until the next call.
    virtual const std::uint8_t *nextRow() = 0;
    // Back to the first row (a comparison with transparency reads both images twice); nothing
    // to do before the first row was read.
    virtual void rewind() = 0;

  protected:
    ImageInfo info_;
};

} // namespace flenn::ssimulacra2
