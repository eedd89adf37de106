#include "DevPhotos.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <jpeglib.h>

namespace flenn::benchmarks {

std::vector<std::filesystem::path> devPhotos() {
    const char *folder = std::getenv("FLENN_DEV_PHOTOS");
    std::filesystem::path root = folder ? folder : FLENN_DEFAULT_DEV_PHOTOS;
    std::vector<std::filesystem::path> photos;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(root, error))
        if (entry.path().extension() == ".jpg")
            photos.push_back(entry.path());
    std::sort(photos.begin(), photos.end());
    return photos;
}

Bytes readFile(const std::filesystem::path &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::vector<std::uint8_t>((std::istreambuf_iterator<char>(file)), {}));
}

Bytes tiled(const Bytes &jpeg, int width, int height, int quality) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr errors{};
    d.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    const std::size_t sourceWidth = d.output_width, sourceHeight = d.output_height;
    std::vector<JSAMPLE> source(sourceWidth * sourceHeight * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &source[std::size_t(d.output_scanline) * sourceWidth * 3];
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);

    jpeg_compress_struct c{};
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(std::size_t(width) * 3);
    for (std::size_t y = 0; y < std::size_t(height); y++) {
        const JSAMPLE *from = &source[(y % sourceHeight) * sourceWidth * 3];
        for (std::size_t x = 0; x < std::size_t(width); x++)
            std::copy_n(from + (x % sourceWidth) * 3, 3, &row[x * 3]);
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes result = Bytes::copying(buffer, size);
    std::free(buffer);
    return result;
}

} // namespace flenn::benchmarks
