#pragma once

// Eight float lanes and the few operations the kernels need. Each kernel translation unit
// includes this after choosing its instruction set and defining FLENN_SIMD, the namespace that
// keeps the variants for different CPUs apart. Every lane runs the exact scalar sequence of
// float operations, so all variants give identical bits.
#include <cstdint>
#include <cstring>

#if FLENN_SIMD_AVX2
#include <immintrin.h>
#endif

namespace flenn::ssimulacra2::FLENN_SIMD {

constexpr int lanes = 8;
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
inline VD lowerHalf(V x) {
    return __builtin_convertvector(__builtin_shufflevector(x, x, 0, 1, 2, 3), VD);
}
inline VD upperHalf(V x) {
    return __builtin_convertvector(__builtin_shufflevector(x, x, 4, 5, 6, 7), VD);
}

// In-place transpose of an 8 x 8 block held in eight vectors.
inline void transpose(V r[8]) {
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
    for (int i = 0; i < 8; i++)
        for (int j = i + 1; j < 8; j++) {
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
