#pragma once

#include <cstdint>
#include <optional>

#include "Bytes.h"
#include "Candidate.h"
#include "JPEGSession.h"
#include "Predictor.h"

namespace flenn::Compressor {

// A rewrite on matched tables whose size the predictor chose, corrected to within 1.5 % of that
// size by at most three more writes, and admitted by one checker run on a tile sample.
std::optional<Candidate> matchOstrel(JPEGSession &session, std::int64_t primarySize);

// The same with a given model (none: no candidate), so that a known model can drive it.
std::optional<Candidate> matchOstrel(JPEGSession &session, std::int64_t primarySize,
                                     const std::optional<Predictor::Model> &model);

// The lowest sample score admitted: FLENN_GUARD when it reads as a number, else the model's.
double guardFloor(const std::optional<Predictor::Model> &model);
double guardFloor();

// What the guard scores: a lossless 2 × 2 sample of 512-pixel tiles, or the whole picture when
// it is too small for that (layout absent).
struct GuardSample {
    std::optional<TileSample> layout;
    Bytes reference;
};
GuardSample guardSample(JPEGSession &session);

} // namespace flenn::Compressor
