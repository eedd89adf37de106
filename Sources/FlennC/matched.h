/* Matched tables: their tile factor, and the estimate of a matched write's size. Private to
 * the engine. */
#ifndef FLENN_MATCHED_H
#define FLENN_MATCHED_H

#include <stdint.h>

#include "measure.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    MATCHED_CLASSES = 40, /* multipliers 0.5 to 1.28 in steps of 0.02 */
    UNIFORM_CLASS = 25    /* multiplier 1 */
};

extern const double MATCHED_GRID[GRID_STEPS];

/* How far the luma table is from the standard one: Σ s × L / Σ L². */
double flenn_matched_fit(const uint16_t luma[64]);

/* The cut multiplier of a tile with the given activity at a scale and relative scale. */
double flenn_matched_tile_factor(double activity, double scale, double relative);

/* The class (0 to 39) standing for a factor; its multiplier is 0.5 + 0.02 × class. */
int flenn_matched_class(double factor);

/* The class of every tile of component 0 for a matched write: from its activity, or class 25
 * everywhere when uniform. `activities` and `counts` are scratch of one entry per tile. */
void flenn_matched_tile_classes(flenn_session *session, double scale, int uniform,
                                float *activities, uint32_t *counts, uint8_t *classes);

/* The estimated size of a matched write and its five parts. */
double flenn_matched_estimate(const flenn_measurements *record, double scale, double chroma,
                              double parts[5]);

/* Fills the record's estimates at every step of the matched grid. */
void flenn_matched_fill(flenn_measurements *record);

#ifdef __cplusplus
}
#endif

#endif
