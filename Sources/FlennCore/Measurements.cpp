#include "Measurements.h"

#include <flenn.h>

namespace flenn {

namespace {

constexpr int gridSteps = 16;
constexpr int partCount = 5;

} // namespace

Measurements Measurements::reading(std::shared_ptr<const MatchedEstimator> estimator) {
    const flenn_measurements *record = estimator->record();
    Measurements m;
    int count = flenn_measurements_count(record);
    for (int i = 0; i < count; i++)
        m.features.insert_or_assign(flenn_measurements_name(record, i),
                                    flenn_measurements_value(record, i));
    for (int i = 0; i < gridSteps; i++) {
        m.grid.push_back(flenn_grid_strength(i));
        m.estimatedBits.push_back(flenn_measurements_estimated_bits(record, i));
        m.matchedGrid.push_back(flenn_matched_grid_scale(i));
        m.matchedBits.push_back(flenn_measurements_matched_bits(record, i));
        std::vector<double> parts;
        for (int p = 0; p < partCount; p++)
            parts.push_back(flenn_measurements_matched_part(record, i, p));
        m.matchedParts.push_back(std::move(parts));
    }
    m.lumaPixels = flenn_measurements_luma_pixels(record);
    m.sourceBits = flenn_measurements_source_bits(record);
    m.matched = std::move(estimator);
    return m;
}

} // namespace flenn
