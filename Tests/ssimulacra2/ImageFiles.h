#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Small image files written on the spot, in the formats and variants the checker reads.
namespace flenn::checker {

// Interleaved 8-bit samples with 1 to 4 channels (grey, grey + alpha, RGB, RGBA).
struct Picture {
    int width = 0, height = 0, channels = 3;
    std::vector<std::uint8_t> samples;
    std::uint8_t &at(int x, int y, int c) {
        return samples[(std::size_t(y) * width + x) * channels + c];
    }
};

// A photo-like RGB picture: smooth shading, edges and grain; `seed` varies it.
Picture photo(int width, int height, unsigned seed = 1);
Picture greyOf(const Picture &rgb);                   // channel 0 of the picture
Picture withAlpha(const Picture &picture, int alpha); // one alpha value for every pixel
Picture expanded(const Picture &grey);                // three equal channels

// The 16-bit sample stored for an 8-bit one: v in the high byte, something else in the low one.
std::uint16_t widened(std::uint8_t v);

// Binary PNM: P5 for one channel, P6 for three; samples scaled to maxValue (v * maxValue / 255,
// which must divide evenly), or widened for 65535 and written big-endian. `comment` goes into
// the header.
void writePNM(const std::filesystem::path &path, const Picture &picture, int maxValue = 255,
              const std::string &comment = "");

struct PNGOptions {
    int bitDepth = 8;     // 16 stores widened(v); 1 stores v / 255 (black and white only)
    bool palette = false; // RGB or RGBA stored through a palette (and tRNS for alpha)
    bool interlaced = false;
    std::optional<double> gamma;                  // a gAMA chunk
    bool srgb = false;                            // an sRGB chunk
    std::optional<std::vector<std::uint8_t>> icc; // an iCCP chunk
};
void writePNG(const std::filesystem::path &path, const Picture &picture,
              const PNGOptions &options = {});

// A minimal ICC profile header that libpng accepts for an RGB image.
std::vector<std::uint8_t> minimalRGBProfile();

} // namespace flenn::checker
