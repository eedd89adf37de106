#include "ReferenceTableMode.h"

namespace flenn::Compressor {

// The reference-table mode needs the measurements and the predictor; until then no candidate.
std::optional<Candidate> matchOstrel(JPEGSession &, std::int64_t) { return std::nullopt; }

} // namespace flenn::Compressor
