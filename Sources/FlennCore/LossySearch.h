#pragma once

#include <optional>

#include "Bytes.h"
#include "Candidate.h"
#include "JPEGSession.h"
#include "Preset.h"

namespace flenn::Compressor {

// The strongest requantization of the preset's shape that the checker scores at or above the
// preset's floor, when one saves anything.
std::optional<Candidate> search(JPEGSession &session, const Bytes &reference, const Preset &preset);

} // namespace flenn::Compressor
