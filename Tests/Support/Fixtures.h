#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "Bytes.h"

// Small JPEGs made on the spot with libjpeg, so every test shows its fault on a tiny file.
namespace flenn::fixtures {

enum class Color { grey, ycbcr, rgb, cmyk };

struct Segment {
    int marker; // JPEG_APP0 + n or JPEG_COM
    std::string data;
};

struct JPEGOptions {
    int width = 64;
    int height = 48;
    Color color = Color::ycbcr;
    int quality = 90;
    int hSampling = 2; // of the first component; the others are 1 × 1
    int vSampling = 2;
    bool progressive = false;
    bool optimized = false; // false: the standard Huffman tables, as cameras write them
    bool arithmetic = false;
    int restartRows = 0;
    bool jfif = true;
    bool scanPerComponent = false; // sequential, one scan for each component
    std::vector<Segment> segments; // written after the JFIF header, in order
    unsigned seed = 1;             // varies the picture
};

Bytes jpeg(const JPEGOptions &options = {});

// Pixels of a decoded JPEG: width, height, components and the interleaved samples.
struct Pixels {
    int width = 0, height = 0, components = 0;
    std::vector<std::uint8_t> samples;
    friend bool operator==(const Pixels &, const Pixels &) = default;
};
Pixels decode(const Bytes &jpeg);

// Pixels (grey or RGB) encoded with the library's defaults (4:2:0 for colour) at a quality.
Bytes encode(const Pixels &pixels, int quality);

// The offsets of the marker segments before the first scan: (marker, offset of 0xFF).
std::vector<std::pair<int, std::size_t>> headerMarkers(const Bytes &jpeg);

Bytes concatenated(const std::vector<Bytes> &parts);
Bytes readFile(const std::filesystem::path &path);
void writeFile(const std::filesystem::path &path, const Bytes &bytes);

// A fresh folder under the temporary folder, removed with everything in it at the end of scope.
class TemporaryFolder {
  public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;
    const std::filesystem::path &path() const { return path_; }
    std::filesystem::path operator/(const std::string &name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// The developer photos fetched by the corpus script (empty when they were not fetched).
std::vector<std::filesystem::path> devPhotos();

} // namespace flenn::fixtures
