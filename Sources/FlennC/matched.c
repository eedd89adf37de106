/* Matched tables: each step a scaled standard step plus a share of the source's step, small luma
 * coefficients cut by a threshold that follows each tile's activity, and an estimate of a
 * matched write's size from the histograms that measurement kept. */
#include "matched.h"

#include <math.h>
#include <string.h>

#include "requant.h"
#include "texture.h"

const double MATCHED_GRID[GRID_STEPS] = {0.04, 0.06, 0.08, 0.1,  0.12, 0.14, 0.155, 0.17,
                                         0.19, 0.22, 0.26, 0.31, 0.37, 0.45, 0.55,  0.7};

enum { KNOTS = 7 };
static const double CUT_KNOT[KNOTS] = {0.03, 0.17, 0.21, 0.26, 0.31, 0.35, 0.39};
static const double CUT_LEVEL[KNOTS] = {0.0975, 0.1535, 0.172, 0.1985, 0.2245, 0.2465, 0.2775};

void flenn_matched_table(const uint16_t source[64], int chroma, uint16_t table[64], double scale) {
    const uint16_t *standard = chroma ? flenn_standard_chroma : flenn_standard_luma;
    double x = fmin(fmax(scale, 0.002), 8.0); /* fmax also turns a NaN into the lowest scale */
    double a = 0.0185 / x + 0.445;
    for (int k = 0; k < 64; k++) {
        double m = source[k] > 1 ? source[k] : 1;
        double c = x * standard[k] + a * m;
        double value = c < 2 * m + 0.5 ? floor(10 * m / 9) : floor(c + 0.5);
        table[k] = (uint16_t)fmax(fmin(value, 255), m);
    }
}

double flenn_matched_cut(double scale) {
    if (scale <= CUT_KNOT[0])
        return 0.0855 + 0.4 * fmax(scale, 0);
    if (scale >= CUT_KNOT[KNOTS - 1])
        return scale * 0.7115384615384616; /* the line through the origin and the last knot */
    for (int j = 1; j < KNOTS; j++)
        if (CUT_KNOT[j] >= scale)
            return CUT_LEVEL[j - 1] + (CUT_LEVEL[j] - CUT_LEVEL[j - 1]) *
                                          (scale - CUT_KNOT[j - 1]) /
                                          (CUT_KNOT[j] - CUT_KNOT[j - 1]);
    return scale; /* not a number */
}

double flenn_matched_grid_scale(int index) {
    return index >= 0 && index < GRID_STEPS ? MATCHED_GRID[index] : 0;
}

double flenn_matched_fit(const uint16_t luma[64]) {
    double product = 0, square = 0;
    for (int k = 0; k < 64; k++) {
        product += (double)luma[k] * flenn_standard_luma[k];
        square += (double)flenn_standard_luma[k] * flenn_standard_luma[k];
    }
    return product / square;
}

static double ramp(double v, double lo, double hi) {
    return fmin(fmax((v - lo) / (hi - lo), 0), 1);
}

double flenn_matched_tile_factor(double activity, double scale, double relative) {
    double base = 0.55 + (0.94 - 0.55) * ramp(scale, 0.12, 0.17);
    double g = base + (0.97 - base) * ramp(activity, 0.7, 1.1);
    if (scale > 0.36) {
        double low = 1 + (0.87 - 1) * ramp(scale, 0.36, 0.42);
        double high = 1 + (1.07 - 1) * ramp(scale, 0.36, 0.45);
        g = g * (low + (high - low) * ramp(activity, 12, 16));
    }
    if (scale >= 0.1) {
        double w = 1 - ramp(relative, 1.8, 2.0);
        if (w > 0) {
            double p = 0.97 + (0.8 - 0.97) * ramp(scale, 0.2, 0.26);
            double q = 0.72 + (0.8 - 0.72) * ramp(scale, 0.22, 0.27);
            double t = q + (p - q) * ramp(activity, 2.5, 3.5);
            return g + w * (t - g);
        }
    }
    return g;
}

int flenn_matched_class(double factor) {
    return (int)fmin(fmax(floor((factor - 0.5) / 0.02 + 0.5), 0), MATCHED_CLASSES - 1);
}

void flenn_matched_tile_classes(flenn_session *session, double scale, int uniform,
                                float *activities, uint32_t *counts, uint8_t *classes) {
    int columns = flenn_tiles_across(session), rows = flenn_tiles_down(session);
    size_t tiles = (size_t)columns * rows;
    if (uniform) {
        memset(classes, UNIFORM_CLASS, tiles);
        return;
    }
    flenn_tile_activity(session, activities, columns, rows, counts);
    double relative = scale / flenn_matched_fit(session->info.quant[0]);
    for (size_t t = 0; t < tiles; t++)
        classes[t] =
            (uint8_t)flenn_matched_class(flenn_matched_tile_factor(activities[t], scale, relative));
}

static int bit_length(unsigned value) {
    return value ? 32 - __builtin_clz(value) : 0;
}

/* m × o / t rounded half up, as the writer's integer mode does. */
static unsigned requantized(unsigned m, unsigned o, unsigned t) {
    return (2 * m * o + t) / (2 * t);
}

/* Totals of one plane, before the plane's scan factor. */
typedef struct plane_totals {
    double counter[17]; /* requantized non-zero AC values by bit length */
    double dc_bits;
} plane_totals;

static void add_histogram(plane_totals *totals, const uint32_t histogram[256], int from, int to,
                          unsigned o, unsigned t) {
    for (int m = from; m <= to; m++)
        if (histogram[m])
            totals->counter[bit_length(requantized((unsigned)m, o, t))] += histogram[m];
}

static void add_dc(plane_totals *totals, const uint32_t dc[DC_BINS], unsigned o, unsigned t) {
    for (int d = 1; d < DC_BINS; d++)
        if (dc[d])
            totals->dc_bits += dc[d] * (double)bit_length(requantized((unsigned)d, o, t));
}

/* Adds a plane's magnitude bits, non-zero count, DC bits and entropy, scaled, to the parts. */
static void add_totals(double parts[5], const plane_totals *totals, double factor) {
    double nonzeros = 0, bits = 0;
    for (int s = 1; s < 17; s++) {
        nonzeros += totals->counter[s];
        bits += s * totals->counter[s];
    }
    double entropy = 0;
    for (int s = 1; s < 17; s++)
        if (totals->counter[s] > 0)
            entropy += totals->counter[s] * log2(nonzeros / totals->counter[s]);
    parts[0] += bits * factor;
    parts[1] += nonzeros * factor;
    parts[3] += totals->dc_bits * factor;
    parts[4] += entropy * factor;
}

double flenn_matched_estimate(const flenn_measurements *record, double scale, double chroma,
                              double parts[5]) {
    memset(parts, 0, 5 * sizeof parts[0]);
    if (!(scale > 0))
        return 0;
    double a = fmin(scale, 8), b = chroma > 0 ? fmin(chroma, 8) : 0;
    double f = flenn_matched_cut(a);

    double fit = flenn_matched_fit(record->luma_table);
    uint16_t luma[64];
    flenn_matched_table(record->luma_table, 0, luma, a);
    double multiplier[TILE_CLASSES];
    for (int j = 0; j < TILE_CLASSES; j++)
        multiplier[j] = 0.5 + 0.02 * flenn_matched_class(
                                         flenn_matched_tile_factor(ACTIVITY_VALUE[j], a, a / fit));

    plane_totals totals;
    memset(&totals, 0, sizeof totals);
    for (int k = 1; k < 64; k++) {
        unsigned o = record->luma_table[k], t = luma[k];
        for (int j = 0; j < TILE_CLASSES; j++) {
            double v = ceil((f * multiplier[j] * flenn_standard_luma[k] + (o - 1.0) * 0.25) / o);
            if (!(v <= CLASS_MAGNITUDES - 1))
                continue;
            add_histogram(&totals, record->class_histogram[j][k], v < 1 ? 1 : (int)v,
                          CLASS_MAGNITUDES - 1, o, t);
        }
        add_histogram(&totals, record->luma_large[k], CLASS_MAGNITUDES, 255, o, t);
    }
    add_dc(&totals, record->luma_dc, record->luma_table[0], luma[0]);
    add_totals(parts, &totals, record->luma_factor);

    if (record->has_chroma) {
        uint16_t separate[64];
        const uint16_t *table = luma;
        if (!record->shared_slot) {
            flenn_matched_table(record->chroma_table, 1, separate, b > 0 ? b : a);
            table = separate;
        }
        memset(&totals, 0, sizeof totals);
        for (int k = 1; k < 64; k++)
            add_histogram(&totals, record->chroma_histogram[k], 1, 255, record->chroma_table[k],
                          table[k]);
        add_dc(&totals, record->chroma_dc, record->chroma_table[0], table[0]);
        add_totals(parts, &totals, record->chroma_factor);
    }
    parts[2] = record->total_blocks;
    return 1.16 * parts[0] + 3.554 * parts[1] + 2.443 * parts[2] + 1.135 * parts[3];
}

void flenn_matched_fill(flenn_measurements *record) {
    for (int i = 0; i < GRID_STEPS; i++)
        record->matched_bits[i] =
            flenn_matched_estimate(record, MATCHED_GRID[i], 0, record->matched_parts[i]);
}

double flenn_measurements_matched_bits(const flenn_measurements *record, int index) {
    return index >= 0 && index < GRID_STEPS ? record->matched_bits[index] : 0;
}

double flenn_measurements_matched_part(const flenn_measurements *record, int step, int part) {
    return step >= 0 && step < GRID_STEPS && part >= 0 && part < 5
               ? record->matched_parts[step][part]
               : 0;
}

double flenn_measurements_matched_bits_at(const flenn_measurements *record, double scale,
                                          double chroma) {
    double parts[5];
    return flenn_matched_estimate(record, scale, chroma, parts);
}

double flenn_measurements_matched_parts_at(const flenn_measurements *record, double parts[5],
                                           double scale, double chroma) {
    return flenn_matched_estimate(record, scale, chroma, parts);
}
