/* A spatial view of the luma plane: the activity of 256 × 256-pixel tiles and a coarse map of
 * where texture survives requantization. Private to the engine. */
#ifndef FLENN_TEXTURE_H
#define FLENN_TEXTURE_H

#include <stdint.h>

#include "measure.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    TILE_BLOCKS = 32, /* a tile is 32 × 32 luma blocks */
    MAP_LONG = 24,
    MAP_SHORT = 16,
    MAP_CELLS = MAP_LONG * MAP_SHORT,
    CELL_VALUES = 2 + GRID_STEPS /* blocks, textured, kept at each step */
};

/* The representative activity of each measurement tile class. */
extern const double ACTIVITY_VALUE[TILE_CLASSES];

/* Blocks, textured blocks, then the textured blocks' kept share at each step. */
typedef struct flenn_cell {
    float value[CELL_VALUES];
} flenn_cell;

typedef struct flenn_texture_map {
    int columns, rows;
    flenn_cell cell[MAP_CELLS];
} flenn_texture_map;

/* Mean block deviation of each tile of component 0 over a quarter of its blocks. `counts`
 * is scratch of one counter per tile; without it every activity stays 0. */
void flenn_tile_activity(flenn_session *session, float *activities, int columns, int rows,
                         uint32_t *counts);

/* The measurement class (0 to 15) of a tile activity. */
int flenn_tile_class(float activity);

/* Tiles across and down the luma plane. */
int flenn_tiles_across(const flenn_session *session);
int flenn_tiles_down(const flenn_session *session);

/* Scans the luma plane into the map, on a stride of row pairs. */
void flenn_texture_scan(flenn_session *session, const flenn_group *luma, flenn_texture_map *map);

/* Merges the cells in squares of a × a; returns the number of regions written. */
int flenn_merge_regions(const flenn_texture_map *map, int a, flenn_cell *regions);

/* The surviving texture share at one step, at a quantile over the regions that take part. */
double flenn_pooled_texture(const flenn_cell *regions, int count, int step, double quantile);

/* The log strength at which the pooled texture at a quantile falls to the target. */
double flenn_iso_texture(const double y[GRID_STEPS], const flenn_cell *regions, int count,
                         double quantile, double target);

/* Emits the twelve texture features. */
void flenn_texture_emit(flenn_measurements *record, const flenn_texture_map *map);

#ifdef __cplusplus
}
#endif

#endif
