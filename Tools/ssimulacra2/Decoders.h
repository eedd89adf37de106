#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "ImageReader.h"

// One decoder per file format. Each reads the header at once and the rows on demand from an
// open file positioned at its start, and throws ImageError naming `path`.
namespace flenn::ssimulacra2 {

struct CloseFile {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

std::unique_ptr<ImageReader> openJPEG(File file, const std::string &path);
std::unique_ptr<ImageReader> openPNG(File file, const std::string &path);
std::unique_ptr<ImageReader> openPNM(File file, const std::string &path);

} // namespace flenn::ssimulacra2
