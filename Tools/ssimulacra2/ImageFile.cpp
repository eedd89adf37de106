#include "ImageFile.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Decoders.h"

namespace flenn::ssimulacra2 {

namespace {

ImageError unreadable(int error) {
    return {ImageError::Kind::unreadable, std::strerror(error)};
}

std::vector<std::uint8_t> readFile(const std::string &path) {
    int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        throw unreadable(errno);
    struct stat status {};
    std::vector<std::uint8_t> bytes;
    if (::fstat(file, &status) == 0 && S_ISREG(status.st_mode))
        bytes.reserve(std::size_t(status.st_size));
    std::uint8_t chunk[65536];
    for (;;) {
        ssize_t count = ::read(file, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            int error = errno;
            ::close(file);
            throw unreadable(error);
        }
        if (count == 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + count);
    }
    ::close(file);
    return bytes;
}

bool startsWith(const std::vector<std::uint8_t> &bytes,
                std::initializer_list<std::uint8_t> prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

} // namespace

Image readImage(const std::string &path) {
    std::vector<std::uint8_t> bytes = readFile(path);
    if (startsWith(bytes, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}))
        return decodePNG(bytes.data(), bytes.size());
    if (startsWith(bytes, {0xFF, 0xD8}))
        return decodeJPEG(bytes.data(), bytes.size());
    if (startsWith(bytes, {'P', '5'}) || startsWith(bytes, {'P', '6'}))
        return decodePNM(bytes.data(), bytes.size());
    throw ImageError(ImageError::Kind::undecodable, "not a JPEG, PNG or binary PNM file");
}

} // namespace flenn::ssimulacra2
