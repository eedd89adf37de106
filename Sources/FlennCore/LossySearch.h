#pragma once

#include <cstdint>
#include <optional>

#include "Bytes.h"
#include "Candidate.h"
#include "JPEGSession.h"
#include "Preset.h"

namespace flenn::Compressor {

// The smallest rewrite of the preset's shape that the checker scores at or above the preset's
// floor against the reference, searched on full-size writes, or first on a tile sample for
// photos of 8 megapixels and more.
std::optional<Candidate> search(JPEGSession &session, const Bytes &reference, const Preset &preset);

// The tiles a large photo is searched on: about one 512-pixel tile per megapixel, at most 24.
TileSample searchSampleLayout(std::int64_t width, std::int64_t height);

} // namespace flenn::Compressor
