// PNG input through libpng: palettes and transparency chunks become RGB(A), grey below 8 bits is
// widened to 8 bits, 16-bit samples stay 16-bit.
#include <bit>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <png.h>

#include "Decoders.h"
#include "ImageFile.h"

namespace flenn::ssimulacra2 {

namespace {

struct Reader {
    const std::uint8_t *bytes;
    std::size_t size;
    std::size_t offset;
    char message[200];
};

[[noreturn]] void leave(png_structp png, png_const_charp message) {
    auto *reader = static_cast<Reader *>(png_get_error_ptr(png));
    std::snprintf(reader->message, sizeof reader->message, "%s", message);
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

void readBytes(png_structp png, png_bytep data, png_size_t count) {
    auto *reader = static_cast<Reader *>(png_get_io_ptr(png));
    if (count > reader->size - reader->offset)
        png_error(png, "the file ends early");
    std::memcpy(data, reader->bytes + reader->offset, count);
    reader->offset += count;
}

struct Header {
    png_uint_32 width, height;
    int channels, bitDepth;
    bool srgb, icc, hasGamma;
    double gamma;
};

// The steps that libpng may leave by longjmp hold no object with a destructor. Each returns
// false after an error, with libpng's message in the reader.
bool readHeader(png_structp png, png_infop info, Header *header) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    int colorType = png_get_color_type(png, info);
    int bitDepth = png_get_bit_depth(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(png);
    if (bitDepth == 16 && std::endian::native == std::endian::little)
        png_set_swap(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    header->width = png_get_image_width(png, info);
    header->height = png_get_image_height(png, info);
    header->channels = png_get_channels(png, info);
    header->bitDepth = png_get_bit_depth(png, info);
    header->srgb = png_get_valid(png, info, PNG_INFO_sRGB) != 0;
    header->icc = png_get_valid(png, info, PNG_INFO_iCCP) != 0;
    header->hasGamma = png_get_gAMA(png, info, &header->gamma) != 0;
    return true;
}

bool readPixels(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    // The chunks after the pixels cannot change them, so they are not read.
    png_read_image(png, rows);
    return true;
}

struct Decompressor {
    Reader reader{};
    png_structp png = nullptr;
    png_infop info = nullptr;
    Decompressor(const std::uint8_t *bytes, std::size_t size) : reader{bytes, size, 0, {}} {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader, leave, ignoreWarning);
        if (png)
            info = png_create_info_struct(png);
        if (!png || !info)
            throw std::bad_alloc();
        png_set_read_fn(png, &reader, readBytes);
    }
    ~Decompressor() { png_destroy_read_struct(&png, &info, nullptr); }
    Decompressor(const Decompressor &) = delete;
    Decompressor &operator=(const Decompressor &) = delete;

    [[noreturn]] void fail() const {
        throw ImageError(ImageError::Kind::undecodable, reader.message);
    }
};

} // namespace

Image decodePNG(const std::uint8_t *bytes, std::size_t size) {
    Decompressor decompressor(bytes, size);
    Header header{};
    if (!readHeader(decompressor.png, decompressor.info, &header))
        decompressor.fail();

    Image image;
    image.width = int(header.width);
    image.height = int(header.height);
    image.channels = header.channels;
    image.maxValue = header.bitDepth == 16 ? 65535 : 255;
    // An embedded ICC profile is not interpreted: such files are nearly always sRGB, and the
    // profile outranks a gAMA chunk. Only a gAMA chunk alone means a pure power law.
    if (header.hasGamma && !header.srgb && !header.icc && header.gamma > 0)
        image.gamma = header.gamma;
    image.samples = ByteArray(image.rowBytes() * std::size_t(image.height));
    std::vector<png_bytep> rows(std::size_t(image.height));
    for (std::size_t y = 0; y < rows.size(); y++)
        rows[y] = image.samples.data() + y * image.rowBytes();
    if (!readPixels(decompressor.png, rows.data()))
        decompressor.fail();
    return image;
}

} // namespace flenn::ssimulacra2
