#pragma once

// Linear RGB to the "positive XYB" colour space the metric compares in: the opsin absorbance
// mix, a cube root, then a shift of the three channels into roughly 0..1.
#include <bit>

#include "SIMD.h"

namespace flenn::ssimulacra2::FLENN_SIMD {

namespace opsin {

// Matrix rows sum to one, so grey stays at X = 0.42 and B = 0.55.
constexpr float m00 = 0.30f, m02 = 0.078f, m01 = (1.0f - m02) - m00;
constexpr float m10 = 0.23f, m12 = 0.078f, m11 = (1.0f - m12) - m10;
constexpr float m20 = 0.24342268924547819f, m21 = 0.20476744424496821f, m22 = (1.0f - m20) - m21;
constexpr float bias = 0.0037930732552754493f;
constexpr float cbrtBias = 0.155954197f;
static_assert(m01 == 0.621999979f && m11 == 0.691999972f && m22 == 0.551809847f);
static_assert(std::bit_cast<std::uint32_t>(bias) == 0x3b789536);
static_assert(std::bit_cast<std::uint32_t>(cbrtBias) == 0x3e1fb275);

// cbrt(x) - cbrt(bias) for x >= 0: Newton steps on x^(-1/3) from a seed made of the exponent.
inline V cubeRootMinusBias(V x) {
    const V third = splat(1.0f / 3.0f), fourThirds = splat(4.0f / 3.0f);
    V xThird = third * x;
    VI bits = VI(x);
    V r = V((0x54800000 - (bits >> 23) * 0x002AAAAA) & (bits != 0));
    for (int i = 0; i < 3; i++) {
        V q = r * r;
        r = fma(-xThird, q * q, fourThirds * r);
    }
    V q = r * r;
    r = fma(third, fma(-x, q * q, r), r);
    q = r * r;
    return fma(q, x, splat(-cbrtBias));
}

} // namespace opsin

struct XYB {
    V x, y, b;
};

inline XYB positiveXYB(V red, V green, V blue) {
    using namespace opsin;
    const V b0 = splat(bias);
    V mix0 = fma(splat(m00), red, fma(splat(m01), green, fma(splat(m02), blue, b0)));
    V mix1 = fma(splat(m10), red, fma(splat(m11), green, fma(splat(m12), blue, b0)));
    V mix2 = fma(splat(m20), red, fma(splat(m21), green, fma(splat(m22), blue, b0)));
    V c0 = cubeRootMinusBias(positive(mix0));
    V c1 = cubeRootMinusBias(positive(mix1));
    V c2 = cubeRootMinusBias(positive(mix2));
    V x = splat(0.5f) * (c0 - c1);
    V y = splat(0.5f) * (c0 + c1);
    return {x * 14.0f + 0.42f, y + 0.01f, (c2 - y) + 0.55f};
}

} // namespace flenn::ssimulacra2::FLENN_SIMD
