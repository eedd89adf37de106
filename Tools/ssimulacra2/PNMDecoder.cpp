// Binary PNM input: P5 (grey) and P6 (RGB), with a maximum value of the form 2^k - 1.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "Decoders.h"
#include "ImageFile.h"

namespace flenn::ssimulacra2 {

namespace {

class PNMReader final : public ImageReader {
  public:
    PNMReader(File file, const std::string &path) : file_(std::move(file)), path_(path) {
        std::fseek(file_.get(), 1, SEEK_SET); // to the digit of the magic number
        int kind = std::getc(file_.get());
        unsigned long width = number("width"), height = number("height"),
                      maxValue = number("maximum value");
        if (!std::isspace(std::getc(file_.get())))
            fail("the PNM header is not followed by pixels");
        pixels_ = std::ftell(file_.get());
        if (width == 0 || height == 0 || width > 1u << 30 || height > 1u << 30)
            fail("the PNM size " + std::to_string(width) + "x" + std::to_string(height) +
                 " is not usable");
        if (maxValue == 0 || maxValue > 65535 || (maxValue & (maxValue + 1)) != 0)
            fail("the PNM maximum value " + std::to_string(maxValue) +
                 " is not one less than a power of two");
        info_.width = int(width);
        info_.height = int(height);
        info_.channels = kind == '5' ? 1 : 3;
        info_.maxValue = int(maxValue);
        struct stat status {};
        if (fstat(fileno(file_.get()), &status) == 0 && S_ISREG(status.st_mode) &&
            std::uint64_t(status.st_size - pixels_) < info_.rowBytes() * height)
            fail("the file ends before the last pixel");
        row_.resize(info_.rowBytes());
    }

    const std::uint8_t *nextRow() override {
        if (std::fread(row_.data(), 1, row_.size(), file_.get()) != row_.size())
            fail("the file ends before the last pixel");
        if (info_.wide()) // PNM stores 16-bit samples big-endian
            for (std::size_t i = 0; i < row_.size(); i += 2) {
                std::uint16_t value = std::uint16_t(row_[i] << 8 | row_[i + 1]);
                std::memcpy(&row_[i], &value, 2);
            }
        rowsRead_++;
        return row_.data();
    }

    void rewind() override {
        if (rowsRead_ == 0)
            return;
        std::fseek(file_.get(), pixels_, SEEK_SET);
        rowsRead_ = 0;
    }

  private:
    // The next decimal field of the header, after white space and comments.
    unsigned long number(const char *name) {
        int c = std::getc(file_.get());
        for (;;) {
            while (c != EOF && std::isspace(c))
                c = std::getc(file_.get());
            if (c != '#')
                break;
            while (c != EOF && c != '\n' && c != '\r')
                c = std::getc(file_.get());
        }
        if (c == EOF || !std::isdigit(c))
            fail(std::string("the PNM header has no ") + name);
        unsigned long value = 0;
        for (; c != EOF && std::isdigit(c); c = std::getc(file_.get())) {
            value = value * 10 + unsigned(c - '0');
            if (value > 0xFFFFFFFFul)
                fail(std::string("the PNM ") + name + " is too large");
        }
        std::ungetc(c, file_.get());
        return value;
    }
    [[noreturn]] void fail(const std::string &detail) const {
        throw ImageError(ImageError::Kind::undecodable, path_, detail);
    }

    File file_;
    std::string path_;
    long pixels_ = 0; // offset of the first sample
    std::vector<std::uint8_t> row_;
    int rowsRead_ = 0;
};

} // namespace

std::unique_ptr<ImageReader> openPNM(File file, const std::string &path) {
    return std::make_unique<PNMReader>(std::move(file), path);
}

} // namespace flenn::ssimulacra2
