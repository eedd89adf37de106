#pragma once

#include <filesystem>
#include <vector>

#include "Bytes.h"

// The developer photos for benchmarks: the folder in FLENN_DEV_PHOTOS, else the build's corpus.
namespace flenn::benchmarks {

std::vector<std::filesystem::path> devPhotos();

Bytes readFile(const std::filesystem::path &path);

// The photo's pixels repeated across a width × height picture, encoded at the given quality with
// 4:2:0 sampling: a large photo with the detail of a real one.
Bytes tiled(const Bytes &jpeg, int width, int height, int quality);

} // namespace flenn::benchmarks
