#pragma once

// A vector of float lanes and the few operations the kernels need. Each kernel translation unit
// includes this after choosing its instruction set and defining FLENN_SIMD, the namespace that
// keeps the variants for different CPUs apart. Every lane runs the exact scalar sequence of
// float operations, so all variants give identical bits.
#include <cstdint>
#include <cstring>

#if FLENN_SIMD_AVX2
#include <immintrin.h>
#elif defined(__x86_64__) && !defined(__FMA__)
#define FLENN_SIMD_SSE2 1
#include <emmintrin.h>
#endif

namespace flenn::ssimulacra2::FLENN_SIMD {

// As wide as the hardware's vectors: wider generic vectors compile to poor code.
#if FLENN_SIMD_AVX2
constexpr int lanes = 8;
#else
constexpr int lanes = 4;
#endif
typedef float V __attribute__((vector_size(lanes * 4)));
typedef std::int32_t VI __attribute__((vector_size(lanes * 4)));
typedef double VD __attribute__((vector_size(lanes * 4))); // half as many doubles
typedef std::int64_t VL __attribute__((vector_size(lanes * 4)));

inline V load(const float *p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store(float *p, V v) {
    std::memcpy(p, &v, sizeof v);
}
inline V splat(float x) {
    return V{} + x;
}

// a * b + c with a single rounding.
inline V fma(V a, V b, V c) {
#if FLENN_SIMD_AVX2
    return _mm256_fmadd_ps(a, b, c);
#elif FLENN_SIMD_SSE2
    // Without an FMA instruction fmaf runs in software, slowly. In double, a * b is exact and
    // adding c rounds once; rounding that to float gives the fused result unless the double lies
    // exactly halfway between two floats (its 29 low mantissa bits 1000...0) or is too small
    // for a normal float, where the two roundings can disagree: only then ask fmaf.
    auto sum = [](__m128 a, __m128 b, __m128 c) {
        return _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(a), _mm_cvtps_pd(b)), _mm_cvtps_pd(c));
    };
    auto risky = [](__m128d s) {
        __m128i low = _mm_and_si128(_mm_castpd_si128(s), _mm_set1_epi64x(0x1FFFFFFF));
        int words =
            _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(low, _mm_set1_epi64x(0x10000000))));
        __m128d magnitude = _mm_andnot_pd(_mm_set1_pd(-0.0), s);
        int tiny = _mm_movemask_pd(_mm_and_pd(_mm_cmplt_pd(magnitude, _mm_set1_pd(0x1p-126)),
                                              _mm_cmpgt_pd(magnitude, _mm_setzero_pd())));
        return (words & 3) == 3 || (words & 12) == 12 || tiny != 0;
    };
    __m128d lower = sum(a, b, c);
    __m128d upper = sum(_mm_movehl_ps(a, a), _mm_movehl_ps(b, b), _mm_movehl_ps(c, c));
    if (risky(lower) || risky(upper)) {
        V r;
        for (int i = 0; i < lanes; i++)
            r[i] = __builtin_fmaf(a[i], b[i], c[i]);
        return r;
    }
    return _mm_movelh_ps(_mm_cvtpd_ps(lower), _mm_cvtpd_ps(upper));
#else
    V r;
    for (int i = 0; i < lanes; i++)
        r[i] = __builtin_fmaf(a[i], b[i], c[i]);
    return r;
#endif
}

// x where x > 0, else +0.
inline V positive(V x) {
    return V(VI(x) & (x > 0));
}
inline VD positive(VD x) {
    return VD(VL(x) & (x > 0));
}
inline VD absolute(VD x) {
    return VD(VL(x) & std::int64_t(0x7FFFFFFFFFFFFFFF));
}

// The lower and the upper half of the lanes, in double.
inline VD lowerHalf(V x) {
    VD r;
    for (int i = 0; i < lanes / 2; i++)
        r[i] = x[i];
    return r;
}
inline VD upperHalf(V x) {
    VD r;
    for (int i = 0; i < lanes / 2; i++)
        r[i] = x[lanes / 2 + i];
    return r;
}

// In-place transpose of a square block held in `lanes` vectors.
inline void transpose(V r[lanes]) {
#if FLENN_SIMD_AVX2
    __m256 t[8], s[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_ps(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_ps(r[i], r[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        s[i] = _mm256_shuffle_ps(t[i], t[i + 2], _MM_SHUFFLE(1, 0, 1, 0));
        s[i + 1] = _mm256_shuffle_ps(t[i], t[i + 2], _MM_SHUFFLE(3, 2, 3, 2));
        s[i + 2] = _mm256_shuffle_ps(t[i + 1], t[i + 3], _MM_SHUFFLE(1, 0, 1, 0));
        s[i + 3] = _mm256_shuffle_ps(t[i + 1], t[i + 3], _MM_SHUFFLE(3, 2, 3, 2));
    }
    for (int i = 0; i < 4; i++) {
        r[i] = _mm256_permute2f128_ps(s[i], s[i + 4], 0x20);
        r[i + 4] = _mm256_permute2f128_ps(s[i], s[i + 4], 0x31);
    }
#else
    for (int i = 0; i < lanes; i++)
        for (int j = i + 1; j < lanes; j++) {
            float swap = r[i][j];
            r[i][j] = r[j][i];
            r[j][i] = swap;
        }
#endif
}

// rows[r][x] -> interleaved[x * lanes + r], for x in [0, width).
inline void interleave(const float *const rows[lanes], int width, float *interleaved) {
    int x = 0;
    for (; x + lanes <= width; x += lanes) {
        V block[lanes];
        for (int r = 0; r < lanes; r++)
            block[r] = load(rows[r] + x);
        transpose(block);
        for (int i = 0; i < lanes; i++)
            store(interleaved + (x + i) * lanes, block[i]);
    }
    for (; x < width; x++)
        for (int r = 0; r < lanes; r++)
            interleaved[x * lanes + r] = rows[r][x];
}

// interleaved[x * lanes + r] -> rows[r][x], for x in [0, width).
inline void deinterleave(const float *interleaved, int width, float *const rows[lanes]) {
    int x = 0;
    for (; x + lanes <= width; x += lanes) {
        V block[lanes];
        for (int i = 0; i < lanes; i++)
            block[i] = load(interleaved + (x + i) * lanes);
        transpose(block);
        for (int r = 0; r < lanes; r++)
            store(rows[r] + x, block[r]);
    }
    for (; x < width; x++)
        for (int r = 0; r < lanes; r++)
            rows[r][x] = interleaved[x * lanes + r];
}

} // namespace flenn::ssimulacra2::FLENN_SIMD
