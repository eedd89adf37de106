#pragma once

#include <stdexcept>
#include <string>

#include "Image.h"

namespace flenn::ssimulacra2 {

// Why an input could not be used; what() is the detail shown after the file's path.
class ImageError : public std::runtime_error {
  public:
    enum class Kind {
        unreadable,  // the file could not be read at all
        undecodable, // the bytes are not an image this program decodes
        cmyk,        // a CMYK or YCCK JPEG: decodable, but there is no RGB to compare
    };
    ImageError(Kind kind, const std::string &detail) : std::runtime_error(detail), kind(kind) {}
    Kind kind;
};

// Reads a JPEG, PNG or binary PNM file, recognised by its content, never by its name.
// Throws ImageError.
Image readImage(const std::string &path);

} // namespace flenn::ssimulacra2
