// PNG input through libpng: palettes and transparency chunks become RGB(A), grey below 8 bits is
// widened to 8 bits, 16-bit samples stay 16-bit.
#include <bit>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <png.h>

#include "Decoders.h"
#include "ImageFile.h"
#include "Memory.h"

namespace flenn::ssimulacra2 {

namespace {

struct Errors {
    char message[200];
};

[[noreturn]] void leave(png_structp png, png_const_charp message) {
    auto *errors = static_cast<Errors *>(png_get_error_ptr(png));
    std::snprintf(errors->message, sizeof errors->message, "%s", message);
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

struct Header {
    png_uint_32 width, height;
    int channels, bitDepth;
    bool interlaced, srgb, icc, hasGamma;
    double gamma;
};

// The steps that libpng may leave by longjmp hold no object with a destructor. Each returns
// false after an error, with libpng's message in the error record.
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
    header->interlaced = png_set_interlace_handling(png) > 1;
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

bool readRow(png_structp png, png_bytep row) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_row(png, row, nullptr);
    return true;
}

bool readImage(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    return true;
}

// The library's reader, destroyed however the reader's construction ends.
struct Decompressor {
    png_structp png = nullptr;
    png_infop info = nullptr;
    Decompressor(Errors *errors, std::FILE *file) {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, errors, leave, ignoreWarning);
        info = png ? png_create_info_struct(png) : nullptr;
        if (!png || !info) {
            png_destroy_read_struct(&png, &info, nullptr);
            throw std::bad_alloc();
        }
        png_init_io(png, file);
    }
    ~Decompressor() { png_destroy_read_struct(&png, &info, nullptr); }
    Decompressor(const Decompressor &) = delete;
    Decompressor &operator=(const Decompressor &) = delete;
};

class PNGReader final : public ImageReader {
  public:
    PNGReader(File file, const std::string &path) : file_(std::move(file)), path_(path) { start(); }
    const std::uint8_t *nextRow() override {
        std::uint8_t *row;
        if (interlaced_) { // all passes were read at the start
            row = image_.data() + std::size_t(rowsRead_) * info_.rowBytes();
        } else {
            row = row_.data();
            if (!readRow(decompressor_->png, row))
                fail();
        }
        rowsRead_++;
        return row;
    }

    void rewind() override {
        if (rowsRead_ == 0)
            return;
        if (interlaced_)
            rowsRead_ = 0;
        else
            start();
    }

  private:
    void start() {
        decompressor_.reset();
        std::rewind(file_.get());
        decompressor_ = std::make_unique<Decompressor>(&errors_, file_.get());
        rowsRead_ = 0;

        Header header{};
        if (!readHeader(decompressor_->png, decompressor_->info, &header))
            fail();
        info_.width = int(header.width);
        info_.height = int(header.height);
        info_.channels = header.channels;
        info_.maxValue = header.bitDepth == 16 ? 65535 : 255;
        // An embedded ICC profile is not interpreted: such files are nearly always sRGB, and the
        // profile outranks a gAMA chunk. Only a gAMA chunk alone means a pure power law.
        info_.gamma.reset();
        if (header.hasGamma && !header.srgb && !header.icc && header.gamma > 0)
            info_.gamma = header.gamma;
        interlaced_ = header.interlaced;
        if (!interlaced_) {
            row_.resize(info_.rowBytes());
            return;
        }
        // The passes of an interlaced file fill the rows in turn: read them all now.
        image_ = ByteArray(info_.rowBytes() * std::size_t(info_.height));
        std::vector<png_bytep> rows(std::size_t(info_.height));
        for (std::size_t y = 0; y < rows.size(); y++)
            rows[y] = image_.data() + y * info_.rowBytes();
        if (!readImage(decompressor_->png, rows.data()))
            fail();
    }
    [[noreturn]] void fail() const {
        throw ImageError(ImageError::Kind::undecodable, path_, errors_.message);
    }

    File file_;
    std::string path_;
    Errors errors_{};
    std::unique_ptr<Decompressor> decompressor_; // a new one for every pass over the rows
    bool interlaced_ = false;
    std::vector<std::uint8_t> row_;
    ByteArray image_;
    int rowsRead_ = 0;
};

} // namespace

std::unique_ptr<ImageReader> openPNG(File file, const std::string &path) {
    return std::make_unique<PNGReader>(std::move(file), path);
}

} // namespace flenn::ssimulacra2
