// JPEG input through libjpeg-turbo with the library's defaults (accurate integer inverse DCT,
// smooth chroma upsampling), so the pixels are the ones djpeg prints.
#include <csetjmp>
#include <cstdio>
#include <string>

#include <jpeglib.h>

#include "Decoders.h"
#include "ImageFile.h"

namespace flenn::ssimulacra2 {

namespace {

struct ErrorManager {
    jpeg_error_mgr manager;
    std::jmp_buf *jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void leave(j_common_ptr common) {
    auto *errors = reinterpret_cast<ErrorManager *>(common->err);
    common->err->format_message(common, errors->message);
    std::longjmp(*errors->jump, 1);
}

// Warnings about damaged data do not stop decoding: the damaged part is filled in the way every
// libjpeg program fills it, and the score shows the damage.
void ignoreMessage(j_common_ptr, int) {}

// The steps that libjpeg may leave by longjmp hold no object with a destructor. Each returns
// false after an error, with the library's message in errors.message.
bool readHeader(jpeg_decompress_struct *d, ErrorManager *errors, const std::uint8_t *bytes,
                std::size_t size) {
    std::jmp_buf jump;
    errors->jump = &jump;
    if (setjmp(jump))
        return false;
    jpeg_mem_src(d, bytes, static_cast<unsigned long>(size));
    jpeg_read_header(d, TRUE);
    return true;
}

bool readPixels(jpeg_decompress_struct *d, ErrorManager *errors, std::uint8_t *pixels,
                std::size_t rowBytes) {
    std::jmp_buf jump;
    errors->jump = &jump;
    if (setjmp(jump))
        return false;
    jpeg_start_decompress(d);
    while (d->output_scanline < d->output_height) {
        JSAMPROW rows[16];
        JDIMENSION count = 0;
        for (; count < 16 && d->output_scanline + count < d->output_height; count++)
            rows[count] = pixels + std::size_t(d->output_scanline + count) * rowBytes;
        jpeg_read_scanlines(d, rows, count);
    }
    jpeg_finish_decompress(d);
    return true;
}

struct Decompressor {
    jpeg_decompress_struct d{};
    ErrorManager errors{};
    Decompressor() {
        d.err = jpeg_std_error(&errors.manager);
        errors.manager.error_exit = leave;
        errors.manager.emit_message = ignoreMessage;
        jpeg_create_decompress(&d);
    }
    ~Decompressor() { jpeg_destroy_decompress(&d); }
    Decompressor(const Decompressor &) = delete;
    Decompressor &operator=(const Decompressor &) = delete;

    [[noreturn]] void fail() const {
        throw ImageError(ImageError::Kind::undecodable, errors.message);
    }
};

} // namespace

Image decodeJPEG(const std::uint8_t *bytes, std::size_t size) {
    Decompressor decompressor;
    jpeg_decompress_struct *d = &decompressor.d;
    if (!readHeader(d, &decompressor.errors, bytes, size))
        decompressor.fail();
    if (d->jpeg_color_space == JCS_CMYK || d->jpeg_color_space == JCS_YCCK)
        throw ImageError(ImageError::Kind::cmyk, "a CMYK JPEG");
    if (d->num_components != 1 && d->num_components != 3)
        throw ImageError(ImageError::Kind::undecodable,
                         std::to_string(d->num_components) + " colour components");

    Image image;
    image.width = int(d->image_width);
    image.height = int(d->image_height);
    image.channels = d->num_components;
    image.samples = ByteArray(image.rowBytes() * std::size_t(image.height));
    if (!readPixels(d, &decompressor.errors, image.samples.data(), image.rowBytes()))
        decompressor.fail();
    return image;
}

} // namespace flenn::ssimulacra2
