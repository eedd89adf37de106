/* New quantization tables and the coefficient maps that move a block onto them. */
#ifndef FLENN_REQUANT_H
#define FLENN_REQUANT_H

#include <stdint.h>

#include <stddef.h>
#include <stdio.h>

#include <jpeglib.h>

#include "flenn.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct flenn_map {
    int identity;
    int integer_mode; /* matched mode: values rounded half up with integer arithmetic */
    double offset;    /* dead zone of AC values, as a fraction of a step */
    uint16_t old_step[64];
    uint16_t new_step[64];
    double ratio[64];
    double threshold[64]; /* AC magnitudes below this become 0 */
    int16_t lookup[64][128];
} flenn_map;

extern const uint16_t flenn_standard_luma[64];
extern const uint16_t flenn_standard_chroma[64];

/* The new table for one component under non-matched settings; never finer than the source. */
void flenn_derive_table(const flenn_settings *settings, int is_luma, int scale,
                        const uint16_t source[64], uint16_t table[64]);

/* Builds a map from source to target steps. A negative cut selects rounding in floating point
 * with the given dead zone offset; a cut >= 0 selects integer rounding with zeroing thresholds. */
void flenn_map_build(flenn_map *map, const uint16_t source[64], const uint16_t target[64],
                     double offset, double cut);

/* Requantizes one block of 64 coefficients (natural order). */
void flenn_map_apply(const flenn_map *map, const JCOEF *in, JCOEF *out);

#ifdef __cplusplus
}
#endif

#endif
