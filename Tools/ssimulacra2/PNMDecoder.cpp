// Binary PNM input: P5 (grey) and P6 (RGB), with a maximum value of the form 2^k - 1.
#include <cctype>
#include <cstring>
#include <string>

#include "Decoders.h"
#include "ImageFile.h"

namespace flenn::ssimulacra2 {

namespace {

[[noreturn]] void fail(const std::string &detail) {
    throw ImageError(ImageError::Kind::undecodable, detail);
}

class HeaderReader {
  public:
    HeaderReader(const std::uint8_t *bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    // The next decimal field, after white space and comments.
    unsigned long number(const char *name) {
        for (;;) {
            while (offset_ < size_ && std::isspace(bytes_[offset_]))
                offset_++;
            if (offset_ < size_ && bytes_[offset_] == '#') {
                while (offset_ < size_ && bytes_[offset_] != '\n' && bytes_[offset_] != '\r')
                    offset_++;
                continue;
            }
            break;
        }
        if (offset_ >= size_ || !std::isdigit(bytes_[offset_]))
            fail(std::string("the PNM header has no ") + name);
        unsigned long value = 0;
        while (offset_ < size_ && std::isdigit(bytes_[offset_])) {
            value = value * 10 + (bytes_[offset_++] - '0');
            if (value > 0xFFFFFFFFul)
                fail(std::string("the PNM ") + name + " is too large");
        }
        return value;
    }

    // The single white-space byte that ends the header.
    std::size_t pixelOffset() {
        if (offset_ >= size_ || !std::isspace(bytes_[offset_]))
            fail("the PNM header is not followed by pixels");
        return offset_ + 1;
    }

  private:
    const std::uint8_t *bytes_;
    std::size_t size_;
    std::size_t offset_ = 2; // after the magic number
};

} // namespace

Image decodePNM(const std::uint8_t *bytes, std::size_t size) {
    HeaderReader header(bytes, size);
    unsigned long width = header.number("width");
    unsigned long height = header.number("height");
    unsigned long maxValue = header.number("maximum value");
    std::size_t offset = header.pixelOffset();
    if (width == 0 || height == 0 || width > 1u << 30 || height > 1u << 30)
        fail("the PNM size " + std::to_string(width) + "x" + std::to_string(height) +
             " is not usable");
    if (maxValue == 0 || maxValue > 65535 || (maxValue & (maxValue + 1)) != 0)
        fail("the PNM maximum value " + std::to_string(maxValue) +
             " is not one less than a power of two");

    Image image;
    image.width = int(width);
    image.height = int(height);
    image.channels = bytes[1] == '5' ? 1 : 3;
    image.maxValue = int(maxValue);
    std::size_t length = image.rowBytes() * height;
    if (size - offset < length)
        fail("the file ends before the last pixel");
    image.samples = ByteArray(length);
    std::uint8_t *samples = image.samples.data();
    std::memcpy(samples, bytes + offset, length);
    if (image.wide()) {
        // PNM stores 16-bit samples big-endian.
        for (std::size_t i = 0; i < length; i += 2) {
            std::uint16_t value = std::uint16_t(samples[i] << 8 | samples[i + 1]);
            std::memcpy(samples + i, &value, 2);
        }
    }
    return image;
}

} // namespace flenn::ssimulacra2
