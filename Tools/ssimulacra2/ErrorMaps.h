#pragma once

// The three error maps of one channel (SSIM without its luminance denominator, and the two
// one-sided edge maps) and their pooling: sums of each error and of its fourth power.
#include <array>
#include <cstring>

#include "SIMD.h"
#include "ScaleSums.h"

namespace flenn::ssimulacra2::FLENN_SIMD {

// Running sums of one channel over one strip of columns, kept apart by column modulo 4 and added
// up once the scale is done. So the order of the additions is the same whatever the vector
// width, and every kernel gives the same bits.
constexpr int columnClasses = 4;
struct MapSums {
    double sum[mapCount][columnClasses] = {};
    double sum4[mapCount][columnClasses] = {};

    void addTo(std::array<double, mapCount> &total, std::array<double, mapCount> &total4) const {
        for (int m = 0; m < mapCount; m++)
            for (int k = 0; k < columnClasses; k++) {
                total[m] += sum[m][k];
                total4[m] += sum4[m][k];
            }
    }
};

// The planes of one row of one channel: the two images and the five blurred planes.
struct ChannelRow {
    const float *i1, *i2;
    const float *mu1, *mu2, *s11, *s22, *s12;
};

// Adds the errors of columns [0, count) of the row to sums; the planes hold at least
// count rounded up to whole vectors.
inline void addErrors(const ChannelRow &row, int count, MapSums &sums) {
    const V c2 = splat(0.0009f);
    // Half a vector of doubles covers lanes / 2 column classes; with four lanes, two halves
    // make up the four classes.
    constexpr int accumulators = columnClasses / (lanes / 2);
    VD sum[mapCount][accumulators], sum4[mapCount][accumulators];
    std::memcpy(sum, sums.sum, sizeof sum);
    std::memcpy(sum4, sums.sum4, sizeof sum4);
    auto add = [&](int map, int accumulator, VD e, VL inside) {
        e = VD(VL(e) & inside);
        sum[map][accumulator] += e;
        VD square = e * e;
        sum4[map][accumulator] += square * square;
    };
    for (int x = 0; x < count; x += lanes) {
        V mu1 = load(row.mu1 + x), mu2 = load(row.mu2 + x);
        V m11 = mu1 * mu1, m22 = mu2 * mu2, m12 = mu1 * mu2;
        V dm = mu1 - mu2;
        // The metric subtracts dm^2 from 1 in double and rounds to float; for a float dm^2 the
        // difference is exact in double or too close to 1 to round differently, so one float
        // subtraction gives the same bits.
        V numM = 1.0f - dm * dm;
        V numS = 2.0f * (load(row.s12 + x) - m12) + c2;
        V denS = ((load(row.s11 + x) - m11) + (load(row.s22 + x) - m22)) + c2;
        V q = (numM * numS) / denS;
        V d1 = load(row.i1 + x) - mu1, d2 = load(row.i2 + x) - mu2;
        for (int half = 0; half < 2; half++) {
            VD qh = half ? upperHalf(q) : lowerHalf(q);
            VD d1h = half ? upperHalf(d1) : lowerHalf(d1);
            VD d2h = half ? upperHalf(d2) : lowerHalf(d2);
            VL inside = ~VL{}; // all lanes, but the last vector of a row may reach past it
            if (count - x < lanes)
                for (int i = 0; i < lanes / 2; i++)
                    inside[i] = half * lanes / 2 + i < count - x ? -1 : 0;
            VD ratio = (1.0 + absolute(d2h)) / (1.0 + absolute(d1h)) - 1.0;
            int accumulator = half % accumulators; // x is a multiple of 4
            add(ssim, accumulator, positive(1.0 - qh), inside);
            add(artifact, accumulator, positive(ratio), inside);
            add(detailLost, accumulator, positive(-ratio), inside);
        }
    }
    std::memcpy(sums.sum, sum, sizeof sum);
    std::memcpy(sums.sum4, sum4, sizeof sum4);
}

} // namespace flenn::ssimulacra2::FLENN_SIMD
