#include "MatchedEstimator.h"

#include <cmath>

#include <flenn.h>

namespace flenn {

MatchedEstimator::MatchedEstimator(flenn_measurements *adopted) : record_(adopted) {}

MatchedEstimator::~MatchedEstimator() {
    flenn_measurements_free(record_);
}

double MatchedEstimator::bits(double scale, std::optional<double> chroma) const {
    return flenn_measurements_matched_bits_at(record_, scale, chroma.value_or(0));
}

std::vector<double> MatchedEstimator::parts(double scale, std::optional<double> chroma) const {
    std::vector<double> parts(5);
    flenn_measurements_matched_parts_at(record_, parts.data(), scale, chroma.value_or(0));
    return parts;
}

double MatchedEstimator::scale(double forBits, double low, double high) const {
    // The estimate falls as the scale grows; bisect in log space.
    if (bits(low) <= forBits)
        return low;
    if (bits(high) >= forBits)
        return high;
    double lo = std::log(low), hi = std::log(high);
    for (int i = 0; i < 18; i++) {
        double mid = (lo + hi) / 2;
        if (forBits < bits(std::exp(mid)))
            lo = mid;
        else
            hi = mid;
    }
    return std::exp((lo + hi) / 2);
}

} // namespace flenn
