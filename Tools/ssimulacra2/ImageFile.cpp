#include "ImageFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Decoders.h"

namespace flenn::ssimulacra2 {

std::unique_ptr<ImageReader> openImage(const std::string &path) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file)
        throw ImageError(ImageError::Kind::unreadable, path, std::strerror(errno));
    unsigned char start[8] = {};
    std::size_t count = std::fread(start, 1, sizeof start, file.get());
    if (std::ferror(file.get())) // a folder, for instance
        throw ImageError(ImageError::Kind::unreadable, path, std::strerror(errno));
    std::rewind(file.get());
    auto startsWith = [&](std::initializer_list<unsigned char> prefix) {
        return count >= prefix.size() && std::equal(prefix.begin(), prefix.end(), start);
    };
    if (startsWith({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}))
        return openPNG(std::move(file), path);
    if (startsWith({0xFF, 0xD8}))
        return openJPEG(std::move(file), path);
    if (startsWith({'P', '5'}) || startsWith({'P', '6'}))
        return openPNM(std::move(file), path);
    throw ImageError(ImageError::Kind::undecodable, path, "not a JPEG, PNG or binary PNM file");
}

} // namespace flenn::ssimulacra2
