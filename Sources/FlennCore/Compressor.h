#pragma once

#include <filesystem>
#include <optional>

#include "Bytes.h"
#include "Preset.h"
#include "Result.h"

// The front door of the core: one photo in, its smaller replacement (or a reason) out.
namespace flenn::Compressor {

// The bytes to publish (none when the source stays as it is) and the result to report.
struct Plan {
    std::optional<Bytes> output;
    Result result;
};

// Compresses into a new file; never replaces an existing one.
Result compress(const std::filesystem::path &source, const std::filesystem::path &destination,
                const Preset &preset);

// Replaces the photo atomically, or leaves it exactly as it was.
Result compressInPlace(const std::filesystem::path &photo, const Preset &preset);

// Decides, without touching the disk, whether a JPEG is copied, repacked or rewritten lossily.
Plan plan(const Bytes &data, const Preset &preset);

// True while the environment variable FLENN_DEBUG is present.
bool debug();

} // namespace flenn::Compressor
