#include "requant.h"

#include <math.h>

/* The example tables of the JPEG standard (Annex K), natural order. */
const uint16_t flenn_standard_luma[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

const uint16_t flenn_standard_chroma[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

/* A new step: within 1 to 255, never below the source's step. */
static uint16_t coarser_step(uint16_t source, double wanted) {
    double step = fmin(fmax(wanted, 1.0), 255.0);
    return step > source ? (uint16_t)step : source;
}

void flenn_derive_table(const flenn_settings *settings, int is_luma, int scale,
                        const uint16_t source[64], uint16_t table[64]) {
    const uint16_t *explicit_table = is_luma ? settings->luma_table : settings->chroma_table;
    const uint16_t *standard = is_luma ? flenn_standard_luma : flenn_standard_chroma;
    double f = scale / 100.0;
    double tilt = settings->tilt / 100.0;
    for (int k = 0; k < 64; k++) {
        double wanted;
        if (settings->luma_table) {
            wanted = explicit_table[k];
        } else if (settings->standard) {
            wanted = rint(scale * (double)standard[k] / 1000.0);
        } else {
            double factor = f;
            if (settings->tilt != 0) {
                double q = 1.0 + tilt * ((k / 8 + k % 8) / 14.0 - 0.25);
                factor = 1.0 + (f - 1.0) * fmax(q, 0.2);
            }
            wanted = rint(factor * source[k]);
        }
        table[k] = coarser_step(source[k], wanted);
    }
}

static int16_t clamp16(double value) {
    if (value > 32767.0)
        return 32767;
    if (value < -32768.0)
        return -32768;
    return (int16_t)value;
}

/* j × old / new rounded half up, for a magnitude j. */
static int16_t integer_rounded(const flenn_map *map, int k, long magnitude) {
    long step = map->new_step[k];
    long value = (2 * magnitude * map->old_step[k] + step) / (2 * step);
    return value > 32767 ? 32767 : (int16_t)value;
}

/* The requantized magnitude of a non-negative value in floating-point mode. */
static int16_t float_rounded(const flenn_map *map, int k, double magnitude) {
    double v = map->ratio[k] * magnitude;
    if (k == 0 || map->offset <= 0.0)
        return clamp16(rint(v));
    double g = floor(v + 0.5 - map->offset);
    return g > 0.0 ? clamp16(g) : 0;
}

void flenn_map_build(flenn_map *map, const uint16_t source[64], const uint16_t target[64],
                     double offset, double cut) {
    map->identity = 1;
    map->integer_mode = cut >= 0.0;
    map->offset = offset;
    for (int k = 0; k < 64; k++) {
        map->old_step[k] = source[k];
        map->new_step[k] = target[k];
        map->ratio[k] = (double)source[k] / (double)target[k];
        map->threshold[k] = 0.0;
        if (k > 0 && cut > 0.0)
            map->threshold[k] =
                (cut * flenn_standard_luma[k] + 0.25 * (source[k] - 1.0)) / source[k];
        if (map->ratio[k] != 1.0 || map->threshold[k] > 1.0)
            map->identity = 0;
    }
    for (int k = 0; k < 64; k++) {
        for (int j = 0; j < 128; j++) {
            if (map->integer_mode)
                map->lookup[k][j] =
                    (k > 0 && map->threshold[k] > j) ? 0 : integer_rounded(map, k, j);
            else
                map->lookup[k][j] = float_rounded(map, k, j);
        }
    }
}

/* A magnitude beyond the lookup: the same rounding rules, computed directly. */
static int16_t large_magnitude(const flenn_map *map, int k, int magnitude) {
    if (k > 0 && magnitude < map->threshold[k])
        return 0;
    if (map->integer_mode)
        return integer_rounded(map, k, magnitude);
    return float_rounded(map, k, magnitude);
}

void flenn_map_apply(const flenn_map *map, const JCOEF *in, JCOEF *out) {
    for (int k = 0; k < 64; k++) {
        int x = in[k];
        int magnitude = x < 0 ? -x : x;
        int16_t v = magnitude <= 127 ? map->lookup[k][magnitude] : large_magnitude(map, k, magnitude);
        out[k] = (JCOEF)(x < 0 ? -v : v);
    }
}
