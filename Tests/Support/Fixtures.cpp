#include "Fixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include <jpeglib.h>

namespace flenn::fixtures {

namespace {

J_COLOR_SPACE colorSpace(Color color) {
    switch (color) {
    case Color::grey: return JCS_GRAYSCALE;
    case Color::ycbcr: return JCS_YCbCr;
    case Color::rgb: return JCS_RGB;
    case Color::cmyk: return JCS_CMYK;
    }
    return JCS_YCbCr;
}

int componentCount(Color color) { return color == Color::grey ? 1 : color == Color::cmyk ? 4 : 3; }

// A photo-like picture: smooth light, a few edges and fine grain.
std::vector<JSAMPLE> picture(const JPEGOptions &o, int components) {
    std::mt19937 random(o.seed);
    std::uniform_int_distribution<int> grain(-12, 12);
    std::vector<JSAMPLE> samples(std::size_t(o.width) * o.height * components);
    for (int y = 0; y < o.height; y++)
        for (int x = 0; x < o.width; x++)
            for (int c = 0; c < components; c++) {
                double light = 128 + 90 * std::sin((x + 7.0 * c + o.seed) / 9.0) *
                                         std::cos((y - 5.0 * c) / 13.0);
                if ((x / 16 + y / 16) % 3 == 0)
                    light += 40;
                int value = int(light) + grain(random);
                samples[(std::size_t(y) * o.width + x) * components + c] =
                    JSAMPLE(std::clamp(value, 0, 255));
            }
    return samples;
}

Bytes compressed(const JPEGOptions &o, const std::vector<JSAMPLE> &samples) {
    jpeg_compress_struct c{};
    jpeg_error_mgr errors{};
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);

    int components = componentCount(o.color);
    c.image_width = JDIMENSION(o.width);
    c.image_height = JDIMENSION(o.height);
    c.input_components = components;
    c.in_color_space = o.color == Color::grey ? JCS_GRAYSCALE : o.color == Color::cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, colorSpace(o.color));
    jpeg_set_quality(&c, o.quality, TRUE);
    c.comp_info[0].h_samp_factor = o.hSampling;
    c.comp_info[0].v_samp_factor = o.vSampling;
    for (int i = 1; i < components; i++)
        c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    c.optimize_coding = o.optimized ? TRUE : FALSE;
    c.arith_code = o.arithmetic ? TRUE : FALSE;
    c.restart_in_rows = o.restartRows;
    if (!o.jfif)
        c.write_JFIF_header = FALSE;
    if (o.progressive)
        jpeg_simple_progression(&c);
    std::vector<jpeg_scan_info> scans(std::size_t(o.scanPerComponent ? components : 0));
    for (int i = 0; i < int(scans.size()); i++)
        scans[std::size_t(i)] = {1, {i}, 0, 63, 0, 0};
    if (o.scanPerComponent) {
        c.scan_info = scans.data();
        c.num_scans = components;
    }

    jpeg_start_compress(&c, TRUE);
    for (const Segment &segment : o.segments)
        jpeg_write_marker(&c, segment.marker, reinterpret_cast<const JOCTET *>(segment.data.data()),
                          unsigned(segment.data.size()));
    while (c.next_scanline < c.image_height) {
        // The library reads the row but is not declared const.
        JSAMPROW row = const_cast<JSAMPLE *>(&samples[std::size_t(c.next_scanline) * o.width * components]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes result = Bytes::copying(buffer, size);
    std::free(buffer);
    return result;
}

} // namespace

Bytes jpeg(const JPEGOptions &o) {
    return compressed(o, picture(o, componentCount(o.color)));
}

Bytes encode(const Pixels &pixels, int quality) {
    JPEGOptions options;
    options.width = pixels.width;
    options.height = pixels.height;
    options.color = pixels.components == 1 ? Color::grey : Color::ycbcr;
    options.quality = quality;
    return compressed(options, pixels.samples);
}

Pixels decode(const Bytes &jpeg) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr errors{};
    d.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), jpeg.size());
    jpeg_read_header(&d, TRUE);
    jpeg_start_decompress(&d);
    Pixels pixels{int(d.output_width), int(d.output_height), d.output_components, {}};
    pixels.samples.resize(std::size_t(pixels.width) * pixels.height * pixels.components);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &pixels.samples[std::size_t(d.output_scanline) * pixels.width * pixels.components];
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return pixels;
}

std::vector<std::pair<int, std::size_t>> headerMarkers(const Bytes &jpeg) {
    std::vector<std::pair<int, std::size_t>> markers;
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        int marker = jpeg[at + 1];
        markers.emplace_back(marker, at);
        if (marker == 0xDA)
            break;
        at += 2 + (std::size_t(jpeg[at + 2]) << 8 | jpeg[at + 3]);
    }
    return markers;
}

Bytes concatenated(const std::vector<Bytes> &parts) {
    std::vector<std::uint8_t> all;
    for (const Bytes &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return Bytes(std::move(all));
}

Bytes readFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}));
}

void writeFile(const std::filesystem::path &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "flenn-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored; // a test that made a file undeletable still must not throw here
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::filesystem::path> devPhotos() {
    std::vector<std::filesystem::path> photos;
    const char *folder = std::getenv("FLENN_DEV_PHOTOS");
    std::filesystem::path root = folder ? folder : FLENN_DEV_PHOTOS;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(root, error))
        if (entry.path().extension() == ".jpg")
            photos.push_back(entry.path());
    std::sort(photos.begin(), photos.end());
    return photos;
}

} // namespace flenn::fixtures
