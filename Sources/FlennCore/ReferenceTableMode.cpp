#include "ReferenceTableMode.h"

#include <cctype>
#include <cstdlib>

#include "Compressor.h"
#include "Debug.h"
#include "Measurements.h"
#include "Metric.h"
#include "ReferenceTableSteps.h"

namespace flenn::Compressor {

namespace {

using Markers = JPEGSession::Markers;

constexpr double lowestScale = 0.02, highestScale = 3;

std::optional<Candidate> referenceTables(JPEGSession &session, std::int64_t primarySize,
                                         const MatchedEstimator &estimator, double predictedBits, double floor) {
    const auto markerBytes = double(session.info().markerBytes);
    auto full = [&](double scale) { return session.write(RequantSettings::matched(scale), Markers::all); };
    RefinedWrite best = refineToTarget(
        predictedBits * 0.125 + markerBytes, primarySize, estimator.scale(predictedBits, lowestScale, highestScale),
        full, [&](double bits) { return estimator.scale(bits, lowestScale, highestScale); },
        [&](double scale) { return estimator.bits(scale); });

    GuardSample guard = guardSample(session);
    std::optional<GuardedScale> guarded = guardScale(
        best.scale, floor,
        [&](double scale) {
            return session.write(RequantSettings::matched(scale), Markers::colorProfileOnly, guard.layout);
        },
        [&](const Bytes &sample, double scale) {
            double score = Metric::score(guard.reference, sample);
            if (debug())
                printDebugLine({"  scale", debugNumber(scale, 4), "sample score", debugNumber(score, 2)});
            return score;
        });
    if (!guarded)
        return std::nullopt;
    Bytes data = guarded->lowered ? full(guarded->scale) : best.data;
    // Not clearly below an estimated near-lossless rewrite: the pipeline compares with a repack.
    bool nearRepack = 0.9 * (estimator.bits(lowestScale) / 8 + markerBytes) < double(data.size());
    return Candidate{data, guarded->score, RequantSettings::matched(guarded->scale), nearRepack};
}

} // namespace

double guardFloor(const std::optional<Predictor::Model> &model) {
    if (const char *text = std::getenv("FLENN_GUARD"); text && *text && !std::isspace(static_cast<unsigned char>(*text))) {
        char *end = nullptr;
        double value = std::strtod(text, &end);
        if (*end == '\0')
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
    return referenceTables(session, primarySize, *measured.matched, predicted->bits, guardFloor(model));
}

std::optional<Candidate> matchOstrel(JPEGSession &session, std::int64_t primarySize) {
    return matchOstrel(session, primarySize, Predictor::model());
}

} // namespace flenn::Compressor
