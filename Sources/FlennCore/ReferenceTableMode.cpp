#include "ReferenceTableMode.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "Compressor.h"
#include "Debug.h"
#include "Measurements.h"
#include "Metric.h"

namespace flenn::Compressor {

namespace {

using Markers = JPEGSession::Markers;

constexpr double lowestScale = 0.02, highestScale = 3;
constexpr double lowestGuardedScale = 0.03;

double relativeError(std::int64_t bytes, double target) { return std::abs(double(bytes) / target - 1); }

struct Point {
    double scale;
    std::int64_t bytes;
};

class ReferenceTables {
  public:
    ReferenceTables(JPEGSession &session, std::int64_t primarySize, const MatchedEstimator &estimator,
                    double predictedBits)
        : session_(session), primarySize_(primarySize), estimator_(estimator), predictedBits_(predictedBits),
          target_(predictedBits * 0.125 + double(session.info().markerBytes)) {}

    std::optional<Candidate> run(double floor) {
        Bytes best = refinedWrite();
        return guarded(std::move(best), floor);
    }

  private:
    Bytes full(double scale) { return session_.write(RequantSettings::matched(scale), Markers::all); }

    // The first write at the estimator's scale for the predicted size, then up to three
    // corrections towards the target: log–log interpolation once the target is bracketed,
    // otherwise the estimator asked for the size the last write missed by.
    Bytes refinedWrite() {
        double m = estimator_.scale(predictedBits_, lowestScale, highestScale);
        Bytes current = full(m);
        if (debug())
            printDebugLine({"  predicted", std::to_string(std::int64_t(target_)), "bytes; scale",
                            debugNumber(m, 4), "gives", std::to_string(current.size())});
        Bytes best = current;
        best_ = m;
        std::optional<Point> over, under;
        for (int correction = 0; correction < 3; correction++) {
            auto bytes = std::int64_t(current.size());
            double r = double(bytes) / target_;
            if (std::abs(r - 1) <= 0.015)
                break;
            (r > 1 ? over : under) = Point{m, bytes};
            double next;
            if (over && under && under->bytes < over->bytes && over->scale < under->scale)
                next = std::exp(std::log(over->scale) + (std::log(double(over->bytes)) - std::log(target_)) /
                                                            (std::log(double(over->bytes)) - std::log(double(under->bytes))) *
                                                            (std::log(under->scale) - std::log(over->scale)));
            else
                next = estimator_.scale(estimator_.bits(m) / r, lowestScale, highestScale);
            if (std::abs(std::log(next / m)) < 0.004)
                break;
            if (next < m && bytes >= primarySize_)
                break; // a larger file would follow one that is already as large as the picture
            Bytes written = full(next);
            if (debug())
                printDebugLine({"  scale", debugNumber(next, 4), "gives", std::to_string(written.size())});
            if (relativeError(std::int64_t(written.size()), target_) < relativeError(std::int64_t(best.size()), target_)) {
                best = written;
                best_ = next;
            }
            current = written;
            m = next;
        }
        return best;
    }

    double sampleScore(const Bytes &sample, const GuardSample &guard, double scale) {
        double score = Metric::score(guard.reference, sample);
        if (debug())
            printDebugLine({"  scale", debugNumber(scale, 4), "sample score", debugNumber(score, 2)});
        return score;
    }

    // One checker run on the guard sample at the chosen scale; while it falls short, the scale is
    // lowered by 15 % at a time, re-scoring only samples whose bytes changed.
    std::optional<Candidate> guarded(Bytes best, double floor) {
        GuardSample guard = guardSample(session_);
        double w = best_;
        auto sampleAt = [&](double scale) {
            return session_.write(RequantSettings::matched(scale), Markers::colorProfileOnly, guard.layout);
        };
        Bytes sample = sampleAt(w);
        double score = sampleScore(sample, guard, w);
        bool lowered = false;
        if (score < floor && w > lowestGuardedScale) {
            lowered = true;
            do {
                w *= 0.85;
                Bytes next = sampleAt(w);
                if (next == sample)
                    continue; // the same bytes score the same
                sample = next;
                score = sampleScore(sample, guard, w);
                if (score >= floor)
                    break;
            } while (w > lowestGuardedScale);
        }
        if (score < floor)
            return std::nullopt;
        Bytes data = lowered ? full(w) : std::move(best);
        double nearLossless = 0.9 * (estimator_.bits(lowestScale) / 8 + double(session_.info().markerBytes));
        bool nearRepack = nearLossless < double(data.size());
        return Candidate{std::move(data), score, RequantSettings::matched(w), nearRepack};
    }

    JPEGSession &session_;
    std::int64_t primarySize_;
    const MatchedEstimator &estimator_;
    double predictedBits_;
    double target_;
    double best_ = 0;
};

} // namespace

double guardFloor(const std::optional<Predictor::Model> &model) {
    if (const char *text = std::getenv("FLENN_GUARD")) {
        char *end = nullptr;
        double value = std::strtod(text, &end);
        if (*text && !std::isspace(static_cast<unsigned char>(*text)) && end && *end == '\0')
            return value;
    }
    return model ? model->guardFloor : 72.0;
}

double guardFloor() { return guardFloor(Predictor::model()); }

GuardSample guardSample(JPEGSession &session) {
    TileSample layout{2, 2, 512};
    try {
        return {layout, session.write(RequantSettings::lossless, Markers::colorProfileOnly, layout)};
    } catch (const JPEGSession::SampleTooSmall &) {
        return {std::nullopt, session.write(RequantSettings::lossless, Markers::colorProfileOnly)};
    }
}

std::optional<Candidate> matchOstrel(JPEGSession &session, std::int64_t primarySize,
                                     const std::optional<Predictor::Model> &model) {
    if (!model)
        return std::nullopt;
    Measurements measured = session.measure();
    std::optional<Predictor::Prediction> predicted = model->prediction(measured);
    if (!predicted || !measured.matched)
        return std::nullopt;
    return ReferenceTables(session, primarySize, *measured.matched, predicted->bits).run(guardFloor(model));
}

std::optional<Candidate> matchOstrel(JPEGSession &session, std::int64_t primarySize) {
    return matchOstrel(session, primarySize, Predictor::model());
}

} // namespace flenn::Compressor
