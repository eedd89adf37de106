#pragma once

#include <cstddef>
#include <cstdint>

#include "Image.h"

// One decoder per file format. Each takes the whole file and throws ImageError.
namespace flenn::ssimulacra2 {

Image decodeJPEG(const std::uint8_t *bytes, std::size_t size);
Image decodePNG(const std::uint8_t *bytes, std::size_t size);
Image decodePNM(const std::uint8_t *bytes, std::size_t size);

} // namespace flenn::ssimulacra2
