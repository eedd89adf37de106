/* Which coefficients of a block are non-zero, found eight at a time. Private to the engine. */
#ifndef FLENN_BLOCKMASK_H
#define FLENN_BLOCKMASK_H

#include <stdint.h>

#include <stddef.h>
#include <stdio.h>

#include <jpeglib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

/* Bit i set when natural position i of the block is non-zero. */
static inline uint64_t flenn_nonzero_mask(const JCOEF *block) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    uint64_t mask = 0;
    for (int i = 0; i < 64; i += 16) {
        __m128i low = _mm_cmpeq_epi16(_mm_loadu_si128((const __m128i *)(block + i)), zero);
        __m128i high = _mm_cmpeq_epi16(_mm_loadu_si128((const __m128i *)(block + i + 8)), zero);
        uint64_t zeros = (uint64_t)(unsigned)_mm_movemask_epi8(_mm_packs_epi16(low, high));
        mask |= (~zeros & 0xFFFF) << i;
    }
    return mask;
#else
    uint64_t mask = 0;
    for (int i = 0; i < 64; i++)
        mask |= (uint64_t)(block[i] != 0) << i;
    return mask;
#endif
}

#endif
