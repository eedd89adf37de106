#include "ImageFiles.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>

#include <png.h>

namespace flenn::checker {

Picture photo(int width, int height, unsigned seed) {
    Picture p{width, height, 3, std::vector<std::uint8_t>(std::size_t(width) * height * 3)};
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> grain(-10, 10);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            for (int c = 0; c < 3; c++) {
                double light = 120 + 80 * std::sin((x + 5.0 * c + seed) / 7.0) *
                                         std::cos((y - 3.0 * c) / 11.0);
                if ((x / 12 + y / 12) % 3 == 0)
                    light += 45;
                p.at(x, y, c) = std::uint8_t(std::clamp(int(light) + grain(random), 0, 255));
            }
    return p;
}

Picture greyOf(const Picture &rgb) {
    Picture grey{rgb.width, rgb.height, 1, {}};
    for (std::size_t i = 0; i < rgb.samples.size(); i += rgb.channels)
        grey.samples.push_back(rgb.samples[i]);
    return grey;
}

Picture withAlpha(const Picture &picture, int alpha) {
    Picture out{picture.width, picture.height, picture.channels + 1, {}};
    for (std::size_t i = 0; i < picture.samples.size(); i += picture.channels) {
        out.samples.insert(out.samples.end(), &picture.samples[i],
                           &picture.samples[i] + picture.channels);
        out.samples.push_back(std::uint8_t(alpha));
    }
    return out;
}

Picture expanded(const Picture &grey) {
    Picture rgb{grey.width, grey.height, 3, {}};
    for (std::uint8_t v : grey.samples)
        rgb.samples.insert(rgb.samples.end(), 3, v);
    return rgb;
}

std::uint16_t widened(std::uint8_t v) {
    return std::uint16_t(v << 8 | ((v * 7 + 3) & 0xFF));
}

void writePNM(const std::filesystem::path &path, const Picture &picture, int maxValue,
              const std::string &comment) {
    if (picture.channels != 1 && picture.channels != 3)
        throw std::invalid_argument("PNM takes grey or RGB");
    std::ofstream out(path, std::ios::binary);
    out << (picture.channels == 1 ? "P5\n" : "P6\n");
    if (!comment.empty())
        out << "# " << comment << "\n";
    out << picture.width << " " << picture.height << "\n" << maxValue << "\n";
    for (std::uint8_t v : picture.samples) {
        if (maxValue == 65535) {
            out.put(char(widened(v) >> 8));
            out.put(char(widened(v) & 0xFF));
            continue;
        }
        if (v * maxValue % 255 != 0 || maxValue > 255)
            throw std::invalid_argument("sample does not scale evenly");
        out.put(char(v * maxValue / 255));
    }
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

namespace {

struct PNGWriter {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    FILE *file = nullptr;
    ~PNGWriter() {
        png_destroy_write_struct(&png, &info);
        if (file)
            std::fclose(file);
    }
};

// Everything libpng needs, as plain values and pointers.
struct PNGFields {
    png_uint_32 width, height;
    int bitDepth, colorType, interlace;
    const png_color *palette;
    int paletteSize;
    const png_byte *alphas; // tRNS for the palette, or null
    const double *gamma;
    bool srgb;
    const std::uint8_t *icc;
    png_uint_32 iccSize;
    png_bytepp rows;
};

// libpng leaves by longjmp; this frame holds no object with a destructor.
bool writeAll(png_structp png, png_infop info, const PNGFields &f) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, f.width, f.height, f.bitDepth, f.colorType, f.interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (f.palette)
        png_set_PLTE(png, info, f.palette, f.paletteSize);
    if (f.alphas)
        png_set_tRNS(png, info, f.alphas, f.paletteSize, nullptr);
    if (f.gamma)
        png_set_gAMA(png, info, *f.gamma);
    if (f.srgb)
        png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    if (f.icc)
        png_set_iCCP(png, info, "test", 0, f.icc, f.iccSize);
    png_write_info(png, info);
    png_write_image(png, f.rows);
    png_write_end(png, nullptr);
    return true;
}

} // namespace

void writePNG(const std::filesystem::path &path, const Picture &picture,
              const PNGOptions &options) {
    PNGWriter w;
    w.file = std::fopen(path.c_str(), "wb");
    if (!w.file)
        throw std::runtime_error("cannot write " + path.string());
    png_init_io(w.png, w.file);

    int colorTypes[] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                        PNG_COLOR_TYPE_RGB_ALPHA};
    int colorType = options.palette ? PNG_COLOR_TYPE_PALETTE : colorTypes[picture.channels];
    std::vector<std::vector<std::uint8_t>> rows(std::size_t(picture.height));
    std::vector<png_color> palette;
    std::vector<png_byte> alphas;
    std::map<std::vector<std::uint8_t>, int> indices;
    for (int y = 0; y < picture.height; y++)
        for (int x = 0; x < picture.width; x++) {
            const std::uint8_t *pixel =
                &picture.samples[(std::size_t(y) * picture.width + x) * picture.channels];
            if (options.palette) {
                std::vector<std::uint8_t> key(pixel, pixel + picture.channels);
                auto [entry, added] = indices.emplace(key, int(palette.size()));
                if (added) {
                    palette.push_back({pixel[0], pixel[1], pixel[2]});
                    alphas.push_back(picture.channels == 4 ? pixel[3] : 255);
                }
                rows[y].push_back(std::uint8_t(entry->second));
            } else if (options.bitDepth == 1) {
                if (x % 8 == 0)
                    rows[y].push_back(0);
                rows[y].back() |= std::uint8_t((pixel[0] / 255) << (7 - x % 8));
            } else {
                for (int c = 0; c < picture.channels; c++) {
                    if (options.bitDepth == 16) {
                        rows[y].push_back(std::uint8_t(widened(pixel[c]) >> 8));
                        rows[y].push_back(std::uint8_t(widened(pixel[c]) & 0xFF));
                    } else {
                        rows[y].push_back(pixel[c]);
                    }
                }
            }
        }
    if (palette.size() > 256)
        throw std::invalid_argument("too many colours for a palette");

    std::vector<png_bytep> pointers;
    for (auto &row : rows)
        pointers.push_back(row.data());
    PNGFields fields{png_uint_32(picture.width),
                     png_uint_32(picture.height),
                     options.bitDepth,
                     colorType,
                     options.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                     options.palette ? palette.data() : nullptr,
                     int(palette.size()),
                     options.palette && picture.channels == 4 ? alphas.data() : nullptr,
                     options.gamma ? &*options.gamma : nullptr,
                     options.srgb,
                     options.icc ? options.icc->data() : nullptr,
                     options.icc ? png_uint_32(options.icc->size()) : 0,
                     pointers.data()};
    if (!writeAll(w.png, w.info, fields))
        throw std::runtime_error("libpng could not write " + path.string());
}

std::vector<std::uint8_t> minimalRGBProfile() {
    // libpng drops an iCCP chunk shorter than 92 bytes, so a private tag of noise follows.
    constexpr std::uint32_t size = 420;
    std::vector<std::uint8_t> p(size, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; i++)
            p[at + i] = std::uint8_t(v >> (24 - 8 * i));
    };
    auto putTag = [&](std::size_t at, const char *tag) { std::copy(tag, tag + 4, &p[at]); };
    put32(0, size);
    put32(8, 0x02100000);  // version 2.1
    putTag(12, "mntr");    // display profile
    putTag(16, "RGB ");    // colour space
    putTag(20, "XYZ ");    // connection space
    putTag(36, "acsp");    // signature
    put32(68, 0x0000F6D6); // D50 illuminant
    put32(72, 0x00010000);
    put32(76, 0x0000D32D);
    put32(128, 2); // tags: the media white point and the noise
    putTag(132, "wtpt");
    put32(136, 156);
    put32(140, 20);
    putTag(144, "zzzz");
    put32(148, 176);
    put32(152, size - 176);
    putTag(156, "XYZ ");
    put32(164, 0x0000F351); // D65 adapted to D50
    put32(168, 0x00010000);
    put32(172, 0x000116CC);
    std::minstd_rand noise(7);
    for (std::size_t i = 176; i < size; i++)
        p[i] = std::uint8_t(noise());
    return p;
}

} // namespace flenn::checker
