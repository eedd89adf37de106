/* Feature measurement: the statistics gathered over a session's coefficients, the size curves
 * derived from them and the record handed to the caller. Private to the engine. */
#ifndef FLENN_MEASURE_H
#define FLENN_MEASURE_H

#include <stdint.h>

#include "internal.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    GRID_STEPS = 16,
    LEVELS = 6,
    SURVIVAL_BINS = GRID_STEPS + 1,
    DEVIATION_BINS = 105,
    DC_BINS = 1024,
    TILE_CLASSES = 16,
    CLASS_MAGNITUDES = 64,
    MAX_FEATURES = 192,
    FEATURE_NAME_LENGTH = 28 /* 27 characters and the terminating zero */
};

/* Strengths of the grid in per mille of the standard tables. */
extern const int GRID[GRID_STEPS];

/* Frequency zone of each natural position: 0 low, 1 mid, 2 high. */
extern const uint8_t flenn_zone[64];

/* What one scan gathers over a plane (luma, or the chroma components together). */
typedef struct flenn_group {
    int levels;
    uint16_t q[64];
    float q2[64];
    uint16_t t[GRID_STEPS][64];
    uint8_t survival[64][256];
    /* One 64 × 256 histogram per level, allocated with the group's level count. */
    uint32_t (*histogram)[64][256];
    /* Luma only: points into the record's class histograms. */
    uint32_t (*class_histogram)[64][CLASS_MAGNITUDES];
    uint32_t dc[DC_BINS];
    double blocks[LEVELS];
    double energy[LEVELS];
    uint32_t block_max_survival[LEVELS][SURVIVAL_BINS];
    double energy_by_max_survival[SURVIVAL_BINS];
    double zone_energy[3];
    uint32_t sd_histogram[DEVIATION_BINS];
    uint32_t hf_histogram[DEVIATION_BINS];
    double plane_blocks;
    double scanned;
    double relative_loss[GRID_STEPS];
} flenn_group;

/* Sets a group's tables from the plane's source table and the standard table of its kind;
 * the counters must be zero and the histograms are the caller's. */
void flenn_group_init(flenn_group *group, const uint16_t q[64], int is_luma, int levels);

/* One block's energy by zone and by survival, and its non-zero AC coefficients. */
typedef struct flenn_block {
    float zone[3];
    /* bins[s]: energy of the coefficients that survive exactly the first s steps. Those that
     * survive every step (s = 16) remove nothing at any step, so their bin is never read. */
    float bins[GRID_STEPS];
    float energy;
    int largest; /* the largest survival of any AC coefficient */
    int count;
    uint8_t position[63];
    uint8_t magnitude[63]; /* clamped to 255 */
} flenn_block;

/* Reads one block against a group's tables: energy with the full magnitude, survival and
 * histograms with the magnitude clamped to 255. */
void flenn_block_measure(const flenn_group *group, const JCOEF *block, flenn_block *out);
/* The same without recording the coefficients: energy, zones, bins and largest survival. */
void flenn_block_energy(const flenn_group *group, const JCOEF *block, flenn_block *out);

struct flenn_measurements {
    int count;
    char names[MAX_FEATURES][FEATURE_NAME_LENGTH];
    double values[MAX_FEATURES];
    double estimated_bits[GRID_STEPS];
    double matched_bits[GRID_STEPS];
    double matched_parts[GRID_STEPS][5];
    double luma_pixels;
    double source_bits;

    /* Inputs of the matched estimator. */
    uint16_t luma_table[64];
    uint16_t chroma_table[64];
    int has_chroma;
    int shared_slot; /* component 1 uses component 0's table slot */
    double luma_factor, chroma_factor;
    double total_blocks;
    uint32_t class_histogram[TILE_CLASSES][64][CLASS_MAGNITUDES];
    uint32_t luma_large[64][256]; /* magnitudes 64 to 255, all levels */
    uint32_t chroma_histogram[64][256];
    uint32_t luma_dc[DC_BINS];
    uint32_t chroma_dc[DC_BINS];
};

/* Appends a named value; values beyond the record's capacity are dropped. */
void flenn_emit(flenn_measurements *record, const char *name, double value);

/* The log strength at which a curve over the grid reaches a target (y = ln GRID). */
double flenn_solve_curve(const double y[GRID_STEPS], const double x[GRID_STEPS], int rising,
                         double target);

/* ln GRID[i] for every step. */
void flenn_grid_logs(double y[GRID_STEPS]);

#ifdef __cplusplus
}
#endif

#endif
