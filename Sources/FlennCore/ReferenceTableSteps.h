#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "Bytes.h"

// The two loops of the reference-table mode, apart from the engine and the checker.
namespace flenn::Compressor {

// The full-size write closest to the target byte count: the first at `firstScale`, then at most
// three corrections, each by log–log interpolation once the target is bracketed, otherwise by
// the estimator asked for the size the last write missed by. Stops within 1.5 % of the target,
// when a correction would move the scale by less than 0.4 %, or when it would enlarge a write
// that already has `primarySize` bytes or more.
struct RefinedWrite {
    double scale;
    Bytes data;
};
RefinedWrite refineToTarget(double target, std::int64_t primarySize, double firstScale,
                            const std::function<Bytes(double scale)> &write,
                            const std::function<double(double bits)> &scaleForBits,
                            const std::function<double(double scale)> &bitsAt);

// Scores the sample at `scale`; while it falls short of the floor, lowers the scale by 15 % at a
// time down to 0.03, scoring only samples whose bytes changed. None when the floor is not met.
struct GuardedScale {
    double scale;
    double score;
    bool lowered;
};
std::optional<GuardedScale> guardScale(double scale, double floor,
                                       const std::function<Bytes(double scale)> &sampleAt,
                                       const std::function<double(const Bytes &sample, double scale)> &score);

} // namespace flenn::Compressor
