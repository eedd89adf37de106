/* Tile activity, tile classes and the texture map of the luma plane. */
#include "texture.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "blockmask.h"

const double ACTIVITY_VALUE[TILE_CLASSES] = {0.5,   0.75,  0.85, 0.95, 1.05, 1.8,  2.625, 2.875,
                                             3.125, 3.375, 7.0,  12.5, 13.5, 14.5, 15.5,  20.0};

/* A tile's class is the number of these activities it reaches. */
static const double CLASS_THRESHOLD[TILE_CLASSES - 1] = {0.7,  0.8, 0.9, 1.0, 1.1, 2.5, 2.75, 3.0,
                                                         3.25, 3.5, 12,  13,  14,  15,  16};

/* A block counts as textured from a standard deviation of 0.35: E ≥ 64 × 0.35². */
static const double TEXTURED_ENERGY = 7.84;

/* The texture map reads about this many blocks on large photos. */
static const double MAPPED_BLOCKS = 200000.0;

enum { BLOCKS = 0, TEXTURED = 1, KEPT = 2 };

static JBLOCKROW block_row(flenn_session *session, JDIMENSION row) {
    struct jpeg_decompress_struct *d = &session->decompressor;
    return (*d->mem->access_virt_barray)((j_common_ptr)d, session->coefficients[0], row, 1,
                                         FALSE)[0];
}

int flenn_tiles_across(const flenn_session *session) {
    return (int)((session->decompressor.comp_info[0].width_in_blocks + TILE_BLOCKS - 1) /
                 TILE_BLOCKS);
}

int flenn_tiles_down(const flenn_session *session) {
    return (int)((session->decompressor.comp_info[0].height_in_blocks + TILE_BLOCKS - 1) /
                 TILE_BLOCKS);
}

void flenn_tile_activity(flenn_session *session, float *activities, int columns, int rows,
                         uint32_t *counts) {
    size_t tiles = (size_t)columns * rows;
    memset(activities, 0, tiles * sizeof *activities);
    if (!counts)
        return;
    memset(counts, 0, tiles * sizeof *counts);
    float q2[64];
    for (int k = 0; k < 64; k++)
        q2[k] = (float)((uint32_t)session->info.quant[0][k] * session->info.quant[0][k]);
    const jpeg_component_info *luma = &session->decompressor.comp_info[0];
    JDIMENSION across = luma->width_in_blocks, down = luma->height_in_blocks;
    /* Every second block of every second row, alternating columns between row pairs: a
     * quarter of the blocks on a diagonal lattice. */
    for (JDIMENSION r = 0; r < down; r += 2) {
        JBLOCKROW row = block_row(session, r);
        size_t tile_row = (size_t)(r / TILE_BLOCKS) * columns;
        for (JDIMENSION c = (r / 2) % 2; c < across; c += 2) {
            const JCOEF *block = row[c];
            float energy = 0;
            uint64_t nonzero = flenn_nonzero_mask(block) & ~(uint64_t)1;
            while (nonzero) {
                int k = __builtin_ctzll(nonzero);
                nonzero &= nonzero - 1;
                energy += (float)(block[k] * block[k]) * q2[k];
            }
            size_t tile = tile_row + c / TILE_BLOCKS;
            activities[tile] += sqrtf(energy / 64.0f);
            counts[tile]++;
        }
    }
    for (size_t t = 0; t < tiles; t++)
        activities[t] = counts[t] ? activities[t] / (float)counts[t] : 0.0f;
}

int flenn_tile_class(float activity) {
    int tile_class = 0;
    while (tile_class < TILE_CLASSES - 1 && activity >= CLASS_THRESHOLD[tile_class])
        tile_class++;
    return tile_class;
}

void flenn_texture_scan(flenn_session *session, const flenn_group *luma, flenn_texture_map *map) {
    const jpeg_component_info *info = &session->decompressor.comp_info[0];
    uint64_t across = info->width_in_blocks, down = info->height_in_blocks;
    int portrait = across < down;
    map->columns = portrait ? MAP_SHORT : MAP_LONG;
    map->rows = portrait ? MAP_LONG : MAP_SHORT;
    uint64_t stride = (uint64_t)fmax(floor((double)across * down / MAPPED_BLOCKS + 0.5), 1);
    flenn_block b;
    for (uint64_t r = 0; r < down; r++) {
        if ((r / 2) % stride != 0)
            continue; /* rows are taken in pairs */
        JBLOCKROW row = block_row(session, (JDIMENSION)r);
        uint64_t cell_row = r * map->rows / down * map->columns;
        for (uint64_t c = 0; c < across; c++) {
            float *cell = map->cell[cell_row + c * map->columns / across].value;
            cell[BLOCKS] += 1;
            flenn_block_energy(luma, row[c], &b);
            if (b.energy < TEXTURED_ENERGY)
                continue;
            cell[TEXTURED] += 1;
            /* The removed energy is summed step by step; the shares kept are then independent
             * of each other, four at a time where the processor allows. */
            float removed[GRID_STEPS];
            removed[0] = b.bins[0];
            for (int i = 1; i < GRID_STEPS; i++)
                removed[i] = removed[i - 1] + b.bins[i];
#if defined(__SSE2__)
            const __m128 one = _mm_set1_ps(1.0f), energy = _mm_set1_ps(b.energy);
            for (int i = 0; i < GRID_STEPS; i += 4) {
                __m128 kept = _mm_sub_ps(one, _mm_div_ps(_mm_loadu_ps(removed + i), energy));
                _mm_storeu_ps(cell + KEPT + i, _mm_add_ps(_mm_loadu_ps(cell + KEPT + i), kept));
            }
#else
            for (int i = 0; i < GRID_STEPS; i++)
                cell[KEPT + i] += 1.0f - removed[i] / b.energy;
#endif
        }
    }
}

int flenn_merge_regions(const flenn_texture_map *map, int a, flenn_cell *regions) {
    int columns = map->columns / a, rows = map->rows / a;
    memset(regions, 0, (size_t)columns * rows * sizeof *regions);
    for (int r = 0; r < map->rows; r++)
        for (int c = 0; c < map->columns; c++) {
            const float *cell = map->cell[r * map->columns + c].value;
            float *region = regions[(r / a) * columns + c / a].value;
            for (int v = 0; v < CELL_VALUES; v++)
                region[v] += cell[v];
        }
    return columns * rows;
}

static int ascending(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

double flenn_pooled_texture(const flenn_cell *regions, int count, int step, double quantile) {
    if (count < 1)
        return 1;
    double mean = 0;
    for (int j = 0; j < count; j++)
        mean += regions[j].value[BLOCKS];
    mean /= count;
    double values[MAP_CELLS];
    int taking = 0;
    for (int j = 0; j < count; j++) {
        double blocks = regions[j].value[BLOCKS], textured = regions[j].value[TEXTURED];
        if (blocks >= fmax(0.25 * mean, 1) && textured >= 1 && textured >= 0.1 * mean)
            values[taking++] = regions[j].value[KEPT + step] / textured;
    }
    if (taking == 0)
        return 1;
    qsort(values, (size_t)taking, sizeof values[0], ascending);
    double p = quantile * (taking - 1);
    int j = (int)floor(p);
    int next = j + 1 < taking ? j + 1 : taking - 1;
    return values[j] + (p - j) * (values[next] - values[j]);
}

double flenn_iso_texture(const double y[GRID_STEPS], const flenn_cell *regions, int count,
                         double quantile, double target) {
    double curve[GRID_STEPS];
    for (int i = 0; i < GRID_STEPS; i++)
        curve[i] = flenn_pooled_texture(regions, count, i, quantile);
    return flenn_solve_curve(y, curve, 0, target);
}

void flenn_texture_emit(flenn_measurements *record, const flenn_texture_map *map) {
    double y[GRID_STEPS];
    flenn_grid_logs(y);
    int cells = map->columns * map->rows;

    double kept[GRID_STEPS] = {0}, textured = 0, overall[GRID_STEPS];
    for (int j = 0; j < cells; j++) {
        textured += map->cell[j].value[TEXTURED];
        for (int i = 0; i < GRID_STEPS; i++)
            kept[i] += map->cell[j].value[KEPT + i];
    }
    for (int i = 0; i < GRID_STEPS; i++)
        overall[i] = textured > 0 ? kept[i] / textured : 1;
    flenn_emit(record, "iso_tex_0.95", flenn_solve_curve(y, overall, 0, 0.95));

    flenn_cell reg24[MAP_CELLS], reg12[MAP_CELLS / 4], reg6[MAP_CELLS / 16];
    int n24 = flenn_merge_regions(map, 1, reg24);
    int n12 = flenn_merge_regions(map, 2, reg12);
    int n6 = flenn_merge_regions(map, 4, reg6);
    flenn_emit(record, "iso_reg24_tex_p1_0.7", flenn_iso_texture(y, reg24, n24, 0.01, 0.7));
    flenn_emit(record, "iso_reg24_tex_p1_0.5", flenn_iso_texture(y, reg24, n24, 0.01, 0.5));
    flenn_emit(record, "iso_reg12_tex_min_0.9", flenn_iso_texture(y, reg12, n12, 0, 0.9));
    flenn_emit(record, "iso_reg12_tex_min_0.8", flenn_iso_texture(y, reg12, n12, 0, 0.8));
    flenn_emit(record, "iso_reg12_tex_min_0.7", flenn_iso_texture(y, reg12, n12, 0, 0.7));
    flenn_emit(record, "iso_reg12_tex_min_0.5", flenn_iso_texture(y, reg12, n12, 0, 0.5));
    flenn_emit(record, "reg12_tex_min_220", flenn_pooled_texture(reg12, n12, 6, 0));
    flenn_emit(record, "reg12_tex_min_300", flenn_pooled_texture(reg12, n12, 8, 0));
    flenn_emit(record, "reg12_tex_min_450", flenn_pooled_texture(reg12, n12, 10, 0));
    flenn_emit(record, "reg12_tex_min_600", flenn_pooled_texture(reg12, n12, 12, 0));
    flenn_emit(record, "iso_reg6_tex_min_0.8", flenn_iso_texture(y, reg6, n6, 0, 0.8));
}
