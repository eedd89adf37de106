#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "ImageReader.h"

namespace flenn::ssimulacra2 {

// Why an input could not be used; what() is the detail shown after the file's path.
class ImageError : public std::runtime_error {
  public:
    enum class Kind {
        unreadable,  // the file could not be read at all
        undecodable, // the bytes are not an image this program decodes, or they are damaged
        cmyk,        // a CMYK or YCCK JPEG: decodable, but there is no RGB to compare
    };
    ImageError(Kind kind, const std::string &path, const std::string &detail)
        : std::runtime_error(detail), kind(kind), path(path) {}
    Kind kind;
    std::string path;
};

// Opens a JPEG, PNG or binary PNM file, recognised by its content, never by its name, and reads
// its header. Throws ImageError.
std::unique_ptr<ImageReader> openImage(const std::string &path);

} // namespace flenn::ssimulacra2
