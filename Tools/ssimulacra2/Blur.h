#pragma once

// The metric's blur: a recursive Gaussian approximation (sigma 1.5, three second-order
// resonators, zero outside the image), horizontal pass first, then vertical. Its poles lie on the
// unit circle, so every float rounding keeps ringing along the row or column; the scores depend
// on these exact operations, including where multiply-adds are fused.
#include "SIMD.h"

namespace flenn::ssimulacra2::FLENN_SIMD {

namespace recursive {

constexpr int radius = 5; // N: the input pairs are x[i - N - 1] and x[i + N - 1]

// Per resonator k = 1, 3, 5. The vertical pass runs one step at a time:
//   y[i] = n * s[i] - d * y[i-1] - y[i-2].
constexpr float n[3] = {0.0552952364f, -0.0588366874f, 0.0129558193f};
constexpr float d[3] = {-1.90211308f, -1.17557049f, -1.22464685e-16f};

// The horizontal pass runs four steps at a time: output i + L of a block is
//   sum_{t <= L} a[L - t] * s[i + t] + c[L] * y[i-2] + b[L] * y[i-1].
constexpr float a[3][4] = {{0.0552952364f, 0.10517779f, 0.144764811f, 0.17018123f},
                           {-0.0588366874f, -0.0691666752f, -0.0224736147f, 0.042747356f},
                           {0.0129558193f, 1.58663023e-18f, -0.0129558193f, -3.17326046e-18f}};
constexpr float b[3][4] = {{1.90211308f, 2.61803389f, 3.07768345f, 3.23606801f},
                           {1.17557049f, 0.381966025f, -0.726542532f, -1.23606801f},
                           {1.22464685e-16f, -1.0f, -2.44929371e-16f, 1.0f}};
constexpr float c[3][4] = {{-1.0f, -1.90211308f, -2.61803389f, -3.07768345f},
                           {-1.0f, -1.17557049f, -0.381966025f, 0.726542532f},
                           {-1.0f, -1.22464685e-16f, 1.0f, 2.44929371e-16f}};

} // namespace recursive

// The state of the row recursion between runs over consecutive column ranges: the last two
// outputs of each resonator.
struct RowRecursion {
    V y1[3] = {}, y2[3] = {};
};

// Blurs `lanes` rows at once along x; lane r of every vector belongs to row r. Runs the positions
// [from, to) of rows of `width` columns: from is 1 - N at the start of the rows, later the `to`
// of the previous run; both are multiples of 4 unless to == width. source(i) yields the input at
// column i for every i in [from - 6, to + 4), zero outside [0, width); output i goes to
// out[(i - first) * lanes], first being the first column of the run.
template <class Source>
void blurAlongRows(int width, int from, int to, Source source, RowRecursion &r, float *out) {
    using namespace recursive;
    const int first = from > 0 ? from : 0;
    auto pair = [&](int i) { return source(i - radius - 1) + source(i + radius - 1); };
    auto step = [&](int i) {
        V s = pair(i);
        V o[3];
        for (int k = 0; k < 3; k++) {
            o[k] = s * a[k][0];
            o[k] = fma(splat(c[k][0]), r.y2[k], o[k]);
            r.y2[k] = r.y1[k];
            o[k] = fma(splat(b[k][0]), r.y1[k], o[k]);
            r.y1[k] = o[k];
        }
        if (i >= 0)
            store(out + (i - first) * lanes, o[0] + (o[1] + o[2]));
    };
    auto block = [&](int i) { // four steps ahead from the state before them
        V s[4] = {pair(i), pair(i + 1), pair(i + 2), pair(i + 3)};
        V o[3][4];
        for (int k = 0; k < 3; k++) {
            for (int L = 0; L < 4; L++) {
                o[k][L] = s[0] * a[k][L];
                for (int t = 1; t <= L; t++)
                    o[k][L] = fma(splat(a[k][L - t]), s[t], o[k][L]);
                o[k][L] = fma(splat(c[k][L]), r.y2[k], o[k][L]);
                o[k][L] = fma(splat(b[k][L]), r.y1[k], o[k][L]);
            }
            r.y2[k] = o[k][2];
            r.y1[k] = o[k][3];
        }
        for (int L = 0; L < 4; L++)
            store(out + (i + L - first) * lanes, o[0][L] + (o[1][L] + o[2][L]));
    };

    // Single steps up to column 8, blocks of four while a whole block ends before
    // width - N + 1, single steps again to the end.
    int blocksBegin = width < 8 ? width : 8, blocksEnd = blocksBegin;
    if (width - radius + 1 - 3 > blocksBegin)
        blocksEnd += (width - radius + 1 - 3 - blocksBegin + 3) / 4 * 4;
    int i = from;
    for (; i < to && i < blocksBegin; i++)
        step(i);
    for (int end = to < blocksEnd ? to : blocksEnd; i < end; i += 4)
        block(i);
    for (; i < to; i++)
        step(i);
}

// The vertical recursion of one plane over `count` columns (a multiple of lanes) for the
// consecutive steps whose input pairs are above[j] and below[j] (rows i - N - 1 and i + N - 1,
// a row of zeros outside the image). state holds y[i-1] and y[i-2] of each resonator: six rows
// `stride` apart. Output of step j goes to out[j] (null for the steps before the first row).
inline void blurAlongColumns(int steps, const float *const *above, const float *const *below,
                             float *state, int stride, int count, float *const *out) {
    using namespace recursive;
    const V n1 = splat(n[0]), n3 = splat(n[1]), n5 = splat(n[2]);
    const V minusD1 = splat(-d[0]), minusD3 = splat(-d[1]), minusD5 = splat(-d[2]);
    auto step = [](V n, V minusD, V s, V &y1, V &y2) {
        V y = fma(n, s, fma(minusD, y1, -y2));
        y2 = y1;
        y1 = y;
    };
    for (int x = 0; x < count; x += lanes) {
        float *at = state + x;
        V y1a = load(at), y2a = load(at + stride), y1b = load(at + 2 * stride),
          y2b = load(at + 3 * stride), y1c = load(at + 4 * stride), y2c = load(at + 5 * stride);
        for (int j = 0; j < steps; j++) {
            __builtin_prefetch(above[j] + x + 64);
            V s = load(above[j] + x) + load(below[j] + x);
            step(n1, minusD1, s, y1a, y2a);
            step(n3, minusD3, s, y1b, y2b);
            step(n5, minusD5, s, y1c, y2c);
            if (out[j])
                store(out[j] + x, y1a + (y1b + y1c));
        }
        store(at, y1a);
        store(at + stride, y2a);
        store(at + 2 * stride, y1b);
        store(at + 3 * stride, y2b);
        store(at + 4 * stride, y1c);
        store(at + 5 * stride, y2c);
    }
}

} // namespace flenn::ssimulacra2::FLENN_SIMD
