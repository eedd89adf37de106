#include "ReferenceTableSteps.h"

#include <cmath>
#include <string>

#include "Compressor.h"
#include "Debug.h"

namespace flenn::Compressor {

namespace {

double missedBy(const Bytes &write, double target) { return std::abs(double(write.size()) / target - 1); }

struct Point {
    double scale;
    double bytes;
};

// Where the target lies on the straight line through two writes in log–log space.
double interpolated(const Point &over, const Point &under, double target) {
    return std::exp(std::log(over.scale) + (std::log(over.bytes) - std::log(target)) /
                                               (std::log(over.bytes) - std::log(under.bytes)) *
                                               (std::log(under.scale) - std::log(over.scale)));
}

} // namespace

RefinedWrite refineToTarget(double target, std::int64_t primarySize, double firstScale,
                            const std::function<Bytes(double)> &write,
                            const std::function<double(double)> &scaleForBits,
                            const std::function<double(double)> &bitsAt) {
    double m = firstScale;
    Bytes current = write(m);
    if (debug())
        printDebugLine({"  predicted", std::to_string(std::int64_t(target)), "bytes; scale", debugNumber(m, 4),
                        "gives", std::to_string(current.size())});
    RefinedWrite best{m, current};
    std::optional<Point> over, under;
    for (int correction = 0; correction < 3; correction++) {
        double bytes = double(current.size());
        double r = bytes / target;
        if (std::abs(r - 1) <= 0.015)
            break;
        (r > 1 ? over : under) = Point{m, bytes};
        double next = over && under && under->bytes < over->bytes && over->scale < under->scale
                          ? interpolated(*over, *under, target)
                          : scaleForBits(bitsAt(m) / r);
        if (std::abs(std::log(next / m)) < 0.004)
            break;
        if (next < m && bytes >= double(primarySize))
            break; // a larger file would follow one already as large as the picture
        current = write(next);
        if (debug())
            printDebugLine({"  scale", debugNumber(next, 4), "gives", std::to_string(current.size())});
        if (missedBy(current, target) < missedBy(best.data, target))
            best = {next, current};
        m = next;
    }
    return best;
}

std::optional<GuardedScale> guardScale(double scale, double floor, const std::function<Bytes(double)> &sampleAt,
                                       const std::function<double(const Bytes &, double)> &score) {
    constexpr double lowest = 0.03;
    Bytes sample = sampleAt(scale);
    GuardedScale guarded{scale, score(sample, scale), false};
    if (guarded.score < floor && scale > lowest) {
        guarded.lowered = true;
        do {
            guarded.scale *= 0.85;
            Bytes next = sampleAt(guarded.scale);
            if (next == sample)
                continue; // the same bytes score the same
            sample = next;
            guarded.score = score(sample, guarded.scale);
        } while (guarded.score < floor && guarded.scale > lowest);
    }
    if (guarded.score < floor)
        return std::nullopt;
    return guarded;
}

} // namespace flenn::Compressor
