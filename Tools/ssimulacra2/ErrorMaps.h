#pragma once

// The three error maps of one channel (SSIM without its luminance denominator, and the two
// one-sided edge maps) and their pooling: sums of each error and of its fourth power.
#include "SIMD.h"
#include "ScaleSums.h"

namespace flenn::ssimulacra2::FLENN_SIMD {

// Running sums of one channel, one lane per column class; added up once the scale is done.
struct MapSums {
    VD sum[mapCount] = {};
    VD sum4[mapCount] = {};
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
    VD sum[mapCount], sum4[mapCount];
    for (int m = 0; m < mapCount; m++) {
        sum[m] = sums.sum[m];
        sum4[m] = sums.sum4[m];
    }
    auto add = [&](int map, VD e, VL inside) {
        e = VD(VL(e) & inside);
        sum[map] += e;
        VD square = e * e;
        sum4[map] += square * square;
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
            VL inside = VL{0, 1, 2, 3} + 4 * half < count - x;
            VD ratio = (1.0 + absolute(d2h)) / (1.0 + absolute(d1h)) - 1.0;
            add(ssim, positive(1.0 - qh), inside);
            add(artifact, positive(ratio), inside);
            add(detailLost, positive(-ratio), inside);
        }
    }
    for (int m = 0; m < mapCount; m++) {
        sums.sum[m] = sum[m];
        sums.sum4[m] = sum4[m];
    }
}

} // namespace flenn::ssimulacra2::FLENN_SIMD
