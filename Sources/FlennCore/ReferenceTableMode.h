#pragma once

#include <cstdint>
#include <optional>

#include "Candidate.h"
#include "JPEGSession.h"

namespace flenn::Compressor {

// A rewrite on matched tables whose size the predictor chose, admitted by a guarded tile sample.
std::optional<Candidate> matchOstrel(JPEGSession &session, std::int64_t primarySize);

} // namespace flenn::Compressor
