#pragma once

#include <filesystem>

namespace flenn::Codec {

// Decodes a JPEG file into a binary PNM file; false when it cannot. The caller words the failure.
bool decode(const std::filesystem::path &jpeg, const std::filesystem::path &pnm);

} // namespace flenn::Codec
