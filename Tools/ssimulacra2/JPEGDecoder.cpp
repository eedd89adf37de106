// JPEG input through libjpeg-turbo with the library's defaults (accurate integer inverse DCT,
// smooth chroma upsampling), so the pixels are the ones djpeg prints.
#include <csetjmp>
#include <string>
#include <vector>

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
// false after an error, with the library's message in errors->message.
bool readHeader(jpeg_decompress_struct *d, ErrorManager *errors, std::FILE *file) {
    std::jmp_buf jump;
    errors->jump = &jump;
    if (setjmp(jump))
        return false;
    jpeg_stdio_src(d, file);
    jpeg_read_header(d, TRUE);
    return true;
}

bool readRow(jpeg_decompress_struct *d, ErrorManager *errors, std::uint8_t *row, bool first) {
    std::jmp_buf jump;
    errors->jump = &jump;
    if (setjmp(jump))
        return false;
    if (first)
        jpeg_start_decompress(d);
    JSAMPROW rows[1] = {row};
    jpeg_read_scanlines(d, rows, 1);
    return true;
}

// The library's decompressor, destroyed however the reader's construction ends.
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
};

class JPEGReader final : public ImageReader {
  public:
    JPEGReader(File file, const std::string &path) : file_(std::move(file)), path_(path) {
        start();
        const jpeg_decompress_struct &d = decompressor_.d;
        if (d.jpeg_color_space == JCS_CMYK || d.jpeg_color_space == JCS_YCCK)
            throw ImageError(ImageError::Kind::cmyk, path_, "a CMYK JPEG");
        if (d.num_components != 1 && d.num_components != 3)
            throw ImageError(ImageError::Kind::undecodable, path_,
                             std::to_string(d.num_components) + " colour components");
        info_.width = int(d.image_width);
        info_.height = int(d.image_height);
        info_.channels = d.num_components;
        row_.resize(info_.rowBytes());
    }

    const std::uint8_t *nextRow() override {
        if (!readRow(&decompressor_.d, &decompressor_.errors, row_.data(), rowsRead_ == 0))
            fail();
        rowsRead_++;
        return row_.data();
    }

    void rewind() override {
        if (rowsRead_ == 0)
            return;
        jpeg_abort_decompress(&decompressor_.d);
        start();
    }

  private:
    void start() {
        std::rewind(file_.get());
        if (!readHeader(&decompressor_.d, &decompressor_.errors, file_.get()))
            fail();
        rowsRead_ = 0;
    }
    [[noreturn]] void fail() const {
        throw ImageError(ImageError::Kind::undecodable, path_, decompressor_.errors.message);
    }

    File file_;
    std::string path_;
    Decompressor decompressor_;
    std::vector<std::uint8_t> row_;
    int rowsRead_ = 0;
};

} // namespace

std::unique_ptr<ImageReader> openJPEG(File file, const std::string &path) {
    return std::make_unique<JPEGReader>(std::move(file), path);
}

} // namespace flenn::ssimulacra2
