/* Feature measurement: one strided pass over a session's coefficients predicts what
 * requantizing with the standard tables at sixteen strengths would do, and derives the named
 * features and size estimates from those curves. */
#include "measure.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "blockmask.h"
#include "matched.h"
#include "requant.h"
#include "texture.h"

const int GRID[GRID_STEPS] = {60,  80,  100, 125, 150, 185, 220, 260,
                              300, 360, 450, 520, 600, 750, 900, 1200};

/* The grid steps named by the per-strength features. */
static const int SEL_INDEX[7] = {2, 4, 6, 8, 10, 12, 14};

/* Percentiles of the block deviation histograms, and their names. */
enum { PERCENTILES = 7 };
static const double PERCENTILE_AT[PERCENTILES] = {0.05, 0.1, 0.25, 0.5, 0.75, 0.9, 0.99};
static const int P_NAME[PERCENTILES] = {5, 10, 25, 50, 75, 90, 99};

/* Requantization rounds with a dead zone of 0.15, as the standard-table writes do. */
static const double OFFSET = 0.15;

/* clang-format off */
const uint8_t flenn_zone[64] = {
    0, 0, 0, 1, 1, 1, 1, 2,
    0, 0, 1, 1, 1, 1, 2, 2,
    0, 1, 1, 1, 1, 2, 2, 2,
    1, 1, 1, 1, 2, 2, 2, 2,
    1, 1, 1, 2, 2, 2, 2, 2,
    1, 1, 2, 2, 2, 2, 2, 2,
    1, 2, 2, 2, 2, 2, 2, 2,
    2, 2, 2, 2, 2, 2, 2, 2};
/* clang-format on */

/* Scanning a plane visits about this many blocks whatever its size. */
static const double SCANNED_BLOCKS = 100000.0;

typedef struct flenn_curves {
    double nz[LEVELS][GRID_STEPS], bits[LEVELS][GRID_STEPS];
    double sqerr[LEVELS][GRID_STEPS], empty[LEVELS][GRID_STEPS];
    double nz0[LEVELS], bits0[LEVELS], ones0[LEVELS];
    double blocks[LEVELS], energy[LEVELS];
    double empty_energy[GRID_STEPS];
    double dc_bits[GRID_STEPS], dc_bits0;
    double zone_energy[3];
    double sd_p[PERCENTILES], hf_p[PERCENTILES];
} flenn_curves;

/* Everything one measurement allocates, so it is all released in one place. */
typedef struct measure_context {
    flenn_session *session;
    flenn_group *luma, *chroma; /* chroma is null for a one-component image */
    uint32_t (*luma_histogram)[64][256], (*chroma_histogram)[64][256];
    flenn_curves *luma_curves, *chroma_curves;
    flenn_texture_map *texture;
    flenn_measurements *record;
    int tiles_across, tiles_down;
    float *activities;
    uint32_t *counts;
    uint8_t *classes;
} measure_context;

static int bit_length(unsigned value) {
    return value ? 32 - __builtin_clz(value) : 0;
}

static double ln_eps(double x) {
    return log(fmax(x, 1e-6));
}

void flenn_grid_logs(double y[GRID_STEPS]) {
    for (int i = 0; i < GRID_STEPS; i++)
        y[i] = log((double)GRID[i]);
}

void flenn_emit(flenn_measurements *record, const char *name, double value) {
    if (record->count >= MAX_FEATURES)
        return;
    snprintf(record->names[record->count], FEATURE_NAME_LENGTH, "%s", name);
    record->values[record->count] = value;
    record->count++;
}

double flenn_solve_curve(const double y[GRID_STEPS], const double curve[GRID_STEPS], int rising,
                         double target) {
    double x[GRID_STEPS];
    for (int i = 0; i < GRID_STEPS; i++)
        x[i] = rising ? curve[i] : -curve[i];
    if (rising) {
        for (int i = 1; i < GRID_STEPS; i++)
            x[i] = fmax(x[i], x[i - 1]);
    } else {
        target = -target;
    }
    if (target <= x[0])
        return y[0];
    if (target >= x[GRID_STEPS - 1])
        return y[GRID_STEPS - 1];
    for (int j = 1; j < GRID_STEPS; j++)
        if (x[j] >= target)
            return y[j - 1] +
                   (target - x[j - 1]) / fmax(x[j] - x[j - 1], 1e-30) * (y[j] - y[j - 1]);
    return y[GRID_STEPS - 1]; /* only for a target that is not a number */
}

/* ---- Statistics ---- */

void flenn_group_init(flenn_group *g, const uint16_t q[64], int is_luma, int levels) {
    g->levels = levels;
    flenn_settings standard;
    memset(&standard, 0, sizeof standard);
    standard.standard = 1;
    for (int k = 0; k < 64; k++) {
        g->q[k] = q[k];
        g->q2[k] = (float)((uint32_t)q[k] * q[k]);
    }
    for (int i = 0; i < GRID_STEPS; i++)
        flenn_derive_table(&standard, is_luma, GRID[i], g->q, g->t[i]);
    /* Survival at a step only grows with the magnitude: find the smallest surviving magnitude
     * of each step, then count the steps each magnitude reaches. */
    for (int k = 1; k < 64; k++) {
        int smallest[GRID_STEPS];
        for (int i = 0; i < GRID_STEPS; i++) {
            int low = 0, high = 256; /* survives(high) is taken as true */
            while (low < high) {
                int m = (low + high) / 2;
                if (floor((double)m * g->q[k] / g->t[i][k] + 0.5 - OFFSET) > 0)
                    high = m;
                else
                    low = m + 1;
            }
            smallest[i] = low;
        }
        for (int m = 0; m < 256; m++) {
            int steps = 0;
            for (int i = 0; i < GRID_STEPS; i++)
                steps += m >= smallest[i];
            g->survival[k][m] = (uint8_t)steps;
        }
    }
}

#if defined(__SSE2__)
/* All ones in lane s of sixteen: adds a coefficient's energy to bin s and +0 to the others,
 * which leaves their non-negative sums unchanged. Row 16 adds nothing. */
static const union {
    uint32_t bits[GRID_STEPS];
    __m128 lanes[GRID_STEPS / 4];
} BIN_LANE[SURVIVAL_BINS] = {
#define LANE(s)                                                                                    \
    {                                                                                              \
        { [s] = 0xFFFFFFFFu }                                                                      \
    }
    LANE(0), LANE(1),  LANE(2),  LANE(3),  LANE(4),  LANE(5),  LANE(6),  LANE(7), LANE(8),
    LANE(9), LANE(10), LANE(11), LANE(12), LANE(13), LANE(14), LANE(15), {{0}}
#undef LANE
};

/* Lane z of the zone sums for zone z. */
static const union {
    uint32_t bits[4];
    __m128 lanes;
} ZONE_LANE[3] = {{{0xFFFFFFFFu, 0, 0, 0}}, {{0, 0xFFFFFFFFu, 0, 0}}, {{0, 0, 0xFFFFFFFFu, 0}}};
#endif

/* The block scan's arithmetic; `keep` says whether the non-zero coefficients are recorded. */
static inline void measure_block(const flenn_group *g, const JCOEF *block, flenn_block *b,
                                 int keep) {
    /* Every sum takes every coefficient in position order, and a coefficient adds +0 to the sums
     * it does not belong to, which leaves those non-negative sums unchanged. The sums then stay
     * in registers, without branches on data. */
#if defined(__SSE2__)
    __m128 zones = _mm_setzero_ps();
    __m128 bins0 = zones, bins1 = zones, bins2 = zones, bins3 = zones;
#else
    float zones[3] = {0, 0, 0}, bins[GRID_STEPS] = {0};
#endif
    int largest = 0, count = 0;
    uint64_t nonzero = flenn_nonzero_mask(block) & ~(uint64_t)1; /* AC positions only */
    while (nonzero) {
        int k = __builtin_ctzll(nonzero);
        nonzero &= nonzero - 1;
        int value = block[k];
        unsigned m = (unsigned)(value < 0 ? -value : value);
        unsigned clamped = m > 255 ? 255 : m;
        float e = (float)(m * m) * g->q2[k];
        int s = g->survival[k][clamped];
#if defined(__SSE2__)
        __m128 energy = _mm_set1_ps(e);
        zones = _mm_add_ps(zones, _mm_and_ps(energy, ZONE_LANE[flenn_zone[k]].lanes));
        const __m128 *lane = BIN_LANE[s].lanes;
        bins0 = _mm_add_ps(bins0, _mm_and_ps(energy, lane[0]));
        bins1 = _mm_add_ps(bins1, _mm_and_ps(energy, lane[1]));
        bins2 = _mm_add_ps(bins2, _mm_and_ps(energy, lane[2]));
        bins3 = _mm_add_ps(bins3, _mm_and_ps(energy, lane[3]));
#else
        zones[flenn_zone[k]] += e;
        if (s < GRID_STEPS)
            bins[s] += e;
#endif
        largest = s > largest ? s : largest;
        if (keep) {
            b->position[count] = (uint8_t)k;
            b->magnitude[count] = (uint8_t)clamped;
            count++;
        }
    }
#if defined(__SSE2__)
    float zone_sums[4];
    _mm_storeu_ps(zone_sums, zones);
    memcpy(b->zone, zone_sums, sizeof b->zone);
    _mm_storeu_ps(b->bins, bins0);
    _mm_storeu_ps(b->bins + 4, bins1);
    _mm_storeu_ps(b->bins + 8, bins2);
    _mm_storeu_ps(b->bins + 12, bins3);
#else
    memcpy(b->zone, zones, sizeof b->zone);
    memcpy(b->bins, bins, sizeof bins);
#endif
    b->largest = largest;
    b->count = count;
    b->energy = b->zone[0] + b->zone[1] + b->zone[2];
}

void flenn_block_measure(const flenn_group *g, const JCOEF *block, flenn_block *b) {
    measure_block(g, block, b, 1);
}

void flenn_block_energy(const flenn_group *g, const JCOEF *block, flenn_block *b) {
    measure_block(g, block, b, 0);
}

static int deviation_bin(float squared_sum, float count) {
    if (squared_sum == 0)
        return 0;
    double octaves = floor((log2(sqrtf(squared_sum / count)) + 5) * 8);
    return 1 + (int)fmin(fmax(octaves, 0), DEVIATION_BINS - 2);
}

/* Adds a measured block to the group; tile_class < 0 keeps it out of the class histograms. */
static void group_add(flenn_group *g, const flenn_block *b, int tile_class) {
    float sd = sqrtf(b->energy / 64.0f);
    int level = 0;
    if (g->levels > 1)
        level = sd < 1 ? 0 : sd < 2 ? 1 : sd < 4 ? 2 : sd < 8 ? 3 : sd < 16 ? 4 : 5;
    for (int j = 0; j < b->count; j++) {
        int k = b->position[j], m = b->magnitude[j];
        g->histogram[level][k][m]++;
        if (tile_class >= 0 && m < CLASS_MAGNITUDES)
            g->class_histogram[tile_class][k][m]++;
    }
    g->blocks[level] += 1;
    g->block_max_survival[level][b->largest]++;
    g->energy_by_max_survival[b->largest] += b->energy;
    for (int z = 0; z < 3; z++)
        g->zone_energy[z] += b->zone[z];
    g->energy[level] += b->energy;
    g->sd_histogram[deviation_bin(b->energy, 64.0f)]++;
    g->hf_histogram[deviation_bin(b->zone[2], 36.0f)]++;
}

/* The share of a block's AC energy that each step removes, damped for flat blocks. */
static void add_relative_loss(flenn_group *g, const flenn_block *b) {
    double weight = 1.0 / ((double)b->energy + 64.0);
    float removed = 0;
    for (int i = 0; i < GRID_STEPS; i++) {
        removed += b->bins[i];
        g->relative_loss[i] += weight * removed;
    }
}

static JBLOCKROW block_row(flenn_session *session, int component, JDIMENSION row) {
    struct jpeg_decompress_struct *d = &session->decompressor;
    return (*d->mem->access_virt_barray)((j_common_ptr)d, session->coefficients[component], row, 1,
                                         FALSE)[0];
}

/* Scans one component on the slanted stride lattice: block c of row r when (3r + c) mod s = 0.
 * Luma blocks also feed the class histograms and the relative loss. */
static void scan_component(measure_context *ctx, flenn_group *g, int component, int stride) {
    const jpeg_component_info *info = &ctx->session->decompressor.comp_info[component];
    JDIMENSION across = info->width_in_blocks, down = info->height_in_blocks;
    int is_luma = component == 0;
    unsigned step = stride > 1 ? (unsigned)stride : 1;
    int previous_dc = 0;
    flenn_block b;
    for (JDIMENSION r = 0; r < down; r++) {
        JBLOCKROW row = block_row(ctx->session, component, r);
        JDIMENSION first = (JDIMENSION)((step - (3ull * r) % step) % step);
        for (JDIMENSION c = first; c < across; c += step) {
            const JCOEF *block = row[c];
            flenn_block_measure(g, block, &b);
            int tile_class = -1;
            if (is_luma) {
                tile_class = ctx->classes[(r / TILE_BLOCKS) * ctx->tiles_across + c / TILE_BLOCKS];
                add_relative_loss(g, &b);
            }
            group_add(g, &b, tile_class);
            g->scanned += 1;
            int difference = abs(block[0] - previous_dc);
            g->dc[difference > DC_BINS - 1 ? DC_BINS - 1 : difference]++;
            previous_dc = block[0];
        }
    }
}

static double plane_blocks(const flenn_session *session, int component) {
    const jpeg_component_info *info = &session->decompressor.comp_info[component];
    return (double)info->width_in_blocks * info->height_in_blocks;
}

static int measure_steps(measure_context *ctx) {
    flenn_session *session = ctx->session;
    const flenn_info *info = &session->info;
    flenn_group_init(ctx->luma, info->quant[0], 1, LEVELS);
    ctx->luma->histogram = ctx->luma_histogram;
    ctx->luma->class_histogram = ctx->record->class_histogram;
    ctx->luma->plane_blocks = plane_blocks(session, 0);
    if (ctx->chroma) {
        flenn_group_init(ctx->chroma, info->quant[1], 0, 1);
        ctx->chroma->histogram = ctx->chroma_histogram;
        ctx->chroma->plane_blocks = plane_blocks(session, 1);
        if (info->components > 2)
            ctx->chroma->plane_blocks += plane_blocks(session, 2);
    }

    flenn_tile_activity(session, ctx->activities, ctx->tiles_across, ctx->tiles_down, ctx->counts);
    for (int t = 0; t < ctx->tiles_across * ctx->tiles_down; t++)
        ctx->classes[t] = (uint8_t)flenn_tile_class(ctx->activities[t]);

    int stride = (int)floor(ctx->luma->plane_blocks / SCANNED_BLOCKS + 0.5);
    scan_component(ctx, ctx->luma, 0, stride);
    if (ctx->chroma) {
        scan_component(ctx, ctx->chroma, 1, stride);
        if (info->components > 2)
            scan_component(ctx, ctx->chroma, 2, stride);
    }
    flenn_texture_scan(session, ctx->luma, ctx->texture);
    return 0;
}

static int guarded_measure(measure_context *ctx) {
    jmp_buf jump;
    if (setjmp(jump)) {
        ctx->session->errors.jump = NULL;
        return 1;
    }
    ctx->session->errors.jump = &jump;
    int status = measure_steps(ctx);
    ctx->session->errors.jump = NULL;
    return status;
}

/* ---- Curves ---- */

static double percentile(const uint32_t histogram[DEVIATION_BINS], double scanned, double p) {
    double target = scanned * p, total = 0;
    for (int b = 0; b < DEVIATION_BINS; b++) {
        double count = histogram[b];
        if (count > 0 && total + count >= target)
            return b == 0 ? 0.0 : pow(2.0, (b - 1 + (target - total) / count) / 8.0 - 5.0);
        total += count;
    }
    return 256.0;
}

static void build_curves(const flenn_group *g, flenn_curves *curves) {
    double f = g->scanned > 0 ? g->plane_blocks / g->scanned : 0;
    for (int k = 1; k < 64; k++) {
        for (int m = 1; m < 256; m++) {
            int present = 0;
            for (int level = 0; level < g->levels; level++)
                present |= g->histogram[level][k][m] != 0;
            if (!present)
                continue;
            /* The requantized magnitude and squared error at each step, shared by the levels. */
            double source = (double)m * g->q[k];
            int bits[GRID_STEPS];
            int survives[GRID_STEPS];
            double error2[GRID_STEPS];
            for (int i = 0; i < GRID_STEPS; i++) {
                double r = floor((double)m * g->q[k] / g->t[i][k] + 0.5 - OFFSET);
                double error = r > 0 ? source - r * g->t[i][k] : source;
                survives[i] = r > 0;
                bits[i] = r > 0 ? bit_length((unsigned)r) : 0;
                error2[i] = error * error;
            }
            for (int level = 0; level < g->levels; level++) {
                double n = g->histogram[level][k][m];
                if (n == 0)
                    continue;
                curves->nz0[level] += n;
                curves->bits0[level] += n * bit_length((unsigned)m);
                if (m == 1)
                    curves->ones0[level] += n;
                for (int i = 0; i < GRID_STEPS; i++) {
                    if (survives[i]) {
                        curves->nz[level][i] += n;
                        curves->bits[level][i] += n * bits[i];
                    }
                    curves->sqerr[level][i] += n * error2[i];
                }
            }
        }
    }
    for (int level = 0; level < g->levels; level++) {
        double empty = 0;
        for (int i = 0; i < GRID_STEPS; i++) {
            empty += g->block_max_survival[level][i];
            curves->empty[level][i] = empty;
        }
    }
    double empty_energy = 0;
    for (int i = 0; i < GRID_STEPS; i++) {
        empty_energy += g->energy_by_max_survival[i];
        curves->empty_energy[i] = empty_energy;
    }
    for (int i = 0; i < GRID_STEPS; i++) {
        double ratio = (double)g->q[0] / g->t[i][0];
        for (int d = 1; d < DC_BINS; d++)
            if (g->dc[d])
                curves->dc_bits[i] += g->dc[d] * (double)bit_length((unsigned)rint(ratio * d));
    }
    for (int d = 1; d < DC_BINS; d++)
        curves->dc_bits0 += g->dc[d] * (double)bit_length((unsigned)d);

    for (int level = 0; level < g->levels; level++) {
        for (int i = 0; i < GRID_STEPS; i++) {
            curves->nz[level][i] *= f;
            curves->bits[level][i] *= f;
            curves->sqerr[level][i] *= f;
            curves->empty[level][i] *= f;
        }
        curves->nz0[level] *= f;
        curves->bits0[level] *= f;
        curves->ones0[level] *= f;
        curves->blocks[level] = g->blocks[level] * f;
        curves->energy[level] = g->energy[level] * f;
    }
    for (int i = 0; i < GRID_STEPS; i++) {
        curves->empty_energy[i] *= f;
        curves->dc_bits[i] *= f;
    }
    curves->dc_bits0 *= f;
    for (int z = 0; z < 3; z++)
        curves->zone_energy[z] = g->zone_energy[z] * f;
    for (int p = 0; p < PERCENTILES; p++) {
        curves->sd_p[p] = percentile(g->sd_histogram, g->scanned, PERCENTILE_AT[p]);
        curves->hf_p[p] = percentile(g->hf_histogram, g->scanned, PERCENTILE_AT[p]);
    }
}

/* ---- Features ---- */

static double level_sum(const double values[LEVELS]) {
    double sum = 0;
    for (int level = 0; level < LEVELS; level++)
        sum += values[level];
    return sum;
}

static double step_sum(const double values[LEVELS][GRID_STEPS], int i) {
    double sum = 0;
    for (int level = 0; level < LEVELS; level++)
        sum += values[level][i];
    return sum;
}

static double table_mean(const uint16_t table[64]) {
    double sum = 0;
    for (int k = 0; k < 64; k++)
        sum += table[k];
    return sum / 64.0;
}

static void emitf(flenn_measurements *record, const char *format, int number, double value) {
    char name[FEATURE_NAME_LENGTH];
    snprintf(name, sizeof name, format, number);
    flenn_emit(record, name, value);
}

/* Curves over the grid steps that the per-strength features and iso values read. */
typedef struct step_curves {
    double rho_l[GRID_STEPS], rho_c[GRID_STEPS], est_bpp[GRID_STEPS], ratio[GRID_STEPS];
    double mse_l[GRID_STEPS], mse_flat[GRID_STEPS], mse_masked[GRID_STEPS], mse_c[GRID_STEPS];
    double lost[GRID_STEPS], lost_e[GRID_STEPS], c_lost[GRID_STEPS], rel[GRID_STEPS];
} step_curves;

static void derive(measure_context *ctx) {
    const flenn_info *info = &ctx->session->info;
    const flenn_curves *L = ctx->luma_curves, *C = ctx->chroma_curves;
    flenn_measurements *out = ctx->record;
    int has_chroma = ctx->chroma != NULL;
    double H = level_sum(L->blocks), A = C->blocks[0], P = 64 * H, Q = out->source_bits;
    double pixels = (double)info->width * info->height;

    double *est = out->estimated_bits;
    for (int i = 0; i < GRID_STEPS; i++)
        est[i] = 3.7 * (H + A) + 3.41 * (step_sum(L->nz, i) + C->nz[0][i]) + step_sum(L->bits, i) +
                 C->bits[0][i] + L->dc_bits[i] + C->dc_bits[i];
    double nz0 = level_sum(L->nz0), bits0 = level_sum(L->bits0);
    double est0 =
        3.7 * (H + A) + 3.41 * (nz0 + C->nz0[0]) + bits0 + C->bits0[0] + L->dc_bits0 + C->dc_bits0;

    step_curves s;
    for (int i = 0; i < GRID_STEPS; i++) {
        s.rho_l[i] = step_sum(L->nz, i) / P;
        s.rho_c[i] = C->nz[0][i] / P;
        s.est_bpp[i] = est[i] / P;
        s.ratio[i] = est[i] / Q;
        s.mse_l[i] = step_sum(L->sqerr, i) / P;
        s.mse_flat[i] =
            (L->sqerr[0][i] + L->sqerr[1][i]) / fmax(64 * (L->blocks[0] + L->blocks[1]), 1);
        s.mse_masked[i] = 0;
        for (int j = 0; j < LEVELS; j++) {
            double w = 1.0 / (L->energy[j] / fmax(64 * L->blocks[j], 1) + 4);
            s.mse_masked[i] += L->sqerr[j][i] * w / P;
        }
        s.mse_c[i] = C->sqerr[0][i] / fmax(64 * A, 1);
        s.lost[i] = step_sum(L->empty, i) / H;
        s.lost_e[i] = L->empty_energy[i] / P;
        s.c_lost[i] = C->empty[0][i] / fmax(A, 1);
        s.rel[i] = ctx->luma->relative_loss[i];
    }

    flenn_emit(out, "log_mp", log(pixels / 1000000.0));
    double bpp_image = Q / pixels;
    flenn_emit(out, "bpp_image", bpp_image);
    flenn_emit(out, "log_bpp", ln_eps(bpp_image));
    flenn_emit(out, "sub", (double)info->h_samp[0] * info->v_samp[0]);
    flenn_emit(out, "progressive", info->is_progressive ? 1 : 0);
    flenn_emit(out, "lq_mean", table_mean(ctx->luma->q));
    flenn_emit(out, "lq_dc", ctx->luma->q[0]);
    flenn_emit(out, "cq_mean", has_chroma ? table_mean(ctx->chroma->q) : 0);
    double share = 0;
    for (int level = 0; level < LEVELS - 1; level++) {
        share += L->blocks[level];
        emitf(out, "sd_lt%d", 1 << level, share / H);
    }
    for (int p = 0; p < PERCENTILES; p++)
        emitf(out, "log_sd_p%d", P_NAME[p], log(fmax(L->sd_p[p] + 0.05, 1e-6)));
    for (int p = 0; p < PERCENTILES; p++)
        emitf(out, "log_hf_p%d", P_NAME[p], log(fmax(L->hf_p[p] + 0.05, 1e-6)));

    double Wl = L->zone_energy[0] + L->zone_energy[1] + L->zone_energy[2] + 1e-6;
    flenn_emit(out, "log_ac_energy", ln_eps(Wl / P));
    flenn_emit(out, "e_low", L->zone_energy[0] / Wl);
    flenn_emit(out, "e_mid", L->zone_energy[1] / Wl);
    flenn_emit(out, "e_high", L->zone_energy[2] / Wl);
    flenn_emit(out, "log_e_high", ln_eps(L->zone_energy[2] / P));
    flenn_emit(out, "log_e_mid", ln_eps(L->zone_energy[1] / P));
    for (int level = 0; level < LEVELS; level++)
        emitf(out, "e_share_c%d", level, L->energy[level] / Wl);

    double Wc = C->zone_energy[0] + C->zone_energy[1] + C->zone_energy[2];
    flenn_emit(out, "log_c_energy", has_chroma ? ln_eps(Wc / (64 * A)) : log(1e-6));
    flenn_emit(out, "c_energy_share", has_chroma ? Wc / (Wl + Wc) : 0);
    flenn_emit(out, "log_c_sd_p50", has_chroma ? log(fmax(C->sd_p[3] + 0.05, 1e-6)) : log(0.05));
    flenn_emit(out, "log_c_sd_p90", has_chroma ? log(fmax(C->sd_p[5] + 0.05, 1e-6)) : log(0.05));
    flenn_emit(out, "c_bits_share0",
               has_chroma ? (3.41 * C->nz0[0] + C->bits0[0]) /
                                (3.41 * (nz0 + C->nz0[0]) + bits0 + C->bits0[0] + 1e-6)
                          : 0);
    flenn_emit(out, "rho0_l", nz0 / P);
    flenn_emit(out, "log_rho0", ln_eps((nz0 + C->nz0[0]) / P));
    flenn_emit(out, "one_share0", level_sum(L->ones0) / fmax(nz0, 1));
    flenn_emit(out, "mag_per_nz0", bits0 / fmax(nz0, 1));
    flenn_emit(out, "log_est_bpp0", ln_eps(est0 / P));
    flenn_emit(out, "est_vs_actual0", ln_eps(est0 / Q));

    for (int n = 0; n < 7; n++) {
        int i = SEL_INDEX[n], strength = GRID[i];
        emitf(out, "log_rho_l_%d", strength, ln_eps(s.rho_l[i]));
        emitf(out, "log_rho_c_%d", strength, ln_eps(s.rho_c[i]));
        emitf(out, "log_est_bpp_%d", strength, ln_eps(s.est_bpp[i]));
        emitf(out, "bits_ratio_%d", strength, s.ratio[i]);
        emitf(out, "log_mse_l_%d", strength, log(fmax(s.mse_l[i] + 0.01, 1e-6)));
        emitf(out, "log_mse_flat_%d", strength, log(fmax(s.mse_flat[i] + 0.001, 1e-6)));
        emitf(out, "log_mse_masked_%d", strength, log(fmax(s.mse_masked[i] + 1e-5, 1e-6)));
        emitf(out, "log_mse_c_%d", strength, log(fmax(s.mse_c[i] + 0.001, 1e-6)));
        emitf(out, "lost_%d", strength, s.lost[i]);
        emitf(out, "log_lostE_%d", strength, log(fmax(s.lost_e[i] + 1e-4, 1e-6)));
        emitf(out, "c_lost_%d", strength, s.c_lost[i]);
        emitf(out, "rel_%d", strength, s.rel[i]);
    }

    enum { AT_150 = 4, AT_300 = 8, AT_600 = 12 };
    flenn_emit(out, "slope_bits_150_300",
               (ln_eps(s.est_bpp[AT_300]) - ln_eps(s.est_bpp[AT_150])) / log(2.0));
    flenn_emit(out, "slope_bits_300_600",
               (ln_eps(s.est_bpp[AT_600]) - ln_eps(s.est_bpp[AT_300])) / log(2.0));
    flenn_emit(out, "slope_mse_150_300",
               (log(fmax(s.mse_l[AT_300] + 0.01, 1e-6)) - log(fmax(s.mse_l[AT_150] + 0.01, 1e-6))) /
                   log(2.0));

    double y[GRID_STEPS];
    flenn_grid_logs(y);
    static const struct {
        const char *name;
        size_t curve; /* offset of the curve in step_curves */
        int rising;
        double target;
    } ISO[] = {
        {"iso_mse_l_2.0", offsetof(step_curves, mse_l), 1, 2.0},
        {"iso_mse_l_4.0", offsetof(step_curves, mse_l), 1, 4.0},
        {"iso_mse_l_8.0", offsetof(step_curves, mse_l), 1, 8.0},
        {"iso_mse_masked_0.02", offsetof(step_curves, mse_masked), 1, 0.02},
        {"iso_mse_masked_0.05", offsetof(step_curves, mse_masked), 1, 0.05},
        {"iso_mse_flat_0.3", offsetof(step_curves, mse_flat), 1, 0.3},
        {"iso_mse_flat_0.6", offsetof(step_curves, mse_flat), 1, 0.6},
        {"iso_lost_0.1", offsetof(step_curves, lost), 1, 0.1},
        {"iso_lost_0.25", offsetof(step_curves, lost), 1, 0.25},
        {"iso_mse_c_2.0", offsetof(step_curves, mse_c), 1, 2.0},
        {"iso_bpp_0.5", offsetof(step_curves, est_bpp), 0, 0.5},
        {"iso_bpp_1.0", offsetof(step_curves, est_bpp), 0, 1.0},
        {"iso_bpp_1.5", offsetof(step_curves, est_bpp), 0, 1.5},
        {"iso_ratio_0.35", offsetof(step_curves, ratio), 0, 0.35},
        {"iso_ratio_0.5", offsetof(step_curves, ratio), 0, 0.5},
        {"iso_rel_0.05", offsetof(step_curves, rel), 1, 0.05},
        {"iso_rel_0.1", offsetof(step_curves, rel), 1, 0.1},
    };
    for (size_t n = 0; n < sizeof ISO / sizeof ISO[0]; n++) {
        const double *curve = (const double *)((const char *)&s + ISO[n].curve);
        flenn_emit(out, ISO[n].name, flenn_solve_curve(y, curve, ISO[n].rising, ISO[n].target));
    }

    flenn_texture_emit(out, ctx->texture);
}

/* ---- The matched estimator's inputs ---- */

static void keep_estimator_inputs(measure_context *ctx) {
    flenn_measurements *out = ctx->record;
    const flenn_group *luma = ctx->luma, *chroma = ctx->chroma;
    const struct jpeg_decompress_struct *d = &ctx->session->decompressor;
    memcpy(out->luma_table, luma->q, sizeof out->luma_table);
    memcpy(out->luma_dc, luma->dc, sizeof out->luma_dc);
    for (int k = 1; k < 64; k++)
        for (int m = CLASS_MAGNITUDES; m < 256; m++)
            for (int level = 0; level < LEVELS; level++)
                out->luma_large[k][m] += luma->histogram[level][k][m];
    out->luma_factor = luma->scanned > 0 ? luma->plane_blocks / luma->scanned : 0;
    out->total_blocks = luma->plane_blocks;
    if (chroma) {
        out->has_chroma = 1;
        out->shared_slot = d->comp_info[1].quant_tbl_no == d->comp_info[0].quant_tbl_no;
        memcpy(out->chroma_table, chroma->q, sizeof out->chroma_table);
        memcpy(out->chroma_histogram, chroma->histogram[0], sizeof out->chroma_histogram);
        memcpy(out->chroma_dc, chroma->dc, sizeof out->chroma_dc);
        out->chroma_factor = chroma->scanned > 0 ? chroma->plane_blocks / chroma->scanned : 0;
        out->total_blocks += chroma->plane_blocks;
    } else {
        for (int k = 0; k < 64; k++)
            out->chroma_table[k] = 1;
    }
}

/* ---- Entry points ---- */

static void release(measure_context *ctx) {
    free(ctx->luma);
    free(ctx->chroma);
    free(ctx->luma_histogram);
    free(ctx->chroma_histogram);
    free(ctx->luma_curves);
    free(ctx->chroma_curves);
    free(ctx->texture);
    free(ctx->activities);
    free(ctx->counts);
    free(ctx->classes);
}

static int allocate(measure_context *ctx) {
    flenn_session *session = ctx->session;
    ctx->tiles_across = flenn_tiles_across(session);
    ctx->tiles_down = flenn_tiles_down(session);
    size_t tiles = (size_t)ctx->tiles_across * ctx->tiles_down;
    int has_chroma = session->info.components > 1;
    ctx->luma = calloc(1, sizeof *ctx->luma);
    ctx->luma_histogram = calloc(LEVELS, sizeof *ctx->luma_histogram);
    if (has_chroma) {
        ctx->chroma = calloc(1, sizeof *ctx->chroma);
        ctx->chroma_histogram = calloc(1, sizeof *ctx->chroma_histogram);
    }
    ctx->luma_curves = calloc(1, sizeof *ctx->luma_curves);
    ctx->chroma_curves = calloc(1, sizeof *ctx->chroma_curves);
    ctx->texture = calloc(1, sizeof *ctx->texture);
    ctx->record = calloc(1, sizeof *ctx->record);
    ctx->activities = calloc(tiles, sizeof *ctx->activities);
    ctx->counts = calloc(tiles, sizeof *ctx->counts);
    ctx->classes = calloc(tiles, sizeof *ctx->classes);
    return ctx->luma && ctx->luma_histogram &&
           (!has_chroma || (ctx->chroma && ctx->chroma_histogram)) && ctx->luma_curves &&
           ctx->chroma_curves && ctx->texture && ctx->record && ctx->activities && ctx->counts &&
           ctx->classes;
}

int flenn_session_measure(flenn_session *session, flenn_measurements **result, char *message,
                          size_t capacity) {
    *result = NULL;
    measure_context ctx;
    memset(&ctx, 0, sizeof ctx);
    ctx.session = session;
    if (!allocate(&ctx)) {
        release(&ctx);
        free(ctx.record);
        flenn_copy_message(message, capacity, "Out of memory");
        return 1;
    }
    session->errors.message[0] = '\0';
    if (guarded_measure(&ctx) != 0) {
        flenn_copy_message(message, capacity,
                           session->errors.message[0] ? session->errors.message : "Out of memory");
        release(&ctx);
        free(ctx.record);
        return 1;
    }
    if (ctx.luma->scanned == 0) {
        flenn_copy_message(message, capacity, "The image has no data to measure");
        release(&ctx);
        free(ctx.record);
        return 1;
    }
    for (int i = 0; i < GRID_STEPS; i++)
        ctx.luma->relative_loss[i] /= ctx.luma->scanned;
    build_curves(ctx.luma, ctx.luma_curves);
    if (ctx.chroma)
        build_curves(ctx.chroma, ctx.chroma_curves);

    const flenn_info *info = &session->info;
    double source_bits = (double)(info->bytes_consumed - info->marker_bytes) * 8;
    ctx.record->source_bits = fmax(source_bits, 1);
    derive(&ctx);
    ctx.record->luma_pixels = 64 * ctx.luma->plane_blocks;

    keep_estimator_inputs(&ctx);
    flenn_matched_fill(ctx.record);
    release(&ctx);
    *result = ctx.record;
    return 0;
}

void flenn_measurements_free(flenn_measurements *record) {
    free(record);
}

int flenn_measurements_count(const flenn_measurements *record) {
    return record->count;
}

const char *flenn_measurements_name(const flenn_measurements *record, int index) {
    return index >= 0 && index < record->count ? record->names[index] : "";
}

double flenn_measurements_value(const flenn_measurements *record, int index) {
    return index >= 0 && index < record->count ? record->values[index] : 0;
}

double flenn_measurements_estimated_bits(const flenn_measurements *record, int index) {
    return index >= 0 && index < GRID_STEPS ? record->estimated_bits[index] : 0;
}

int flenn_grid_strength(int index) {
    return index >= 0 && index < GRID_STEPS ? GRID[index] : 0;
}

double flenn_measurements_luma_pixels(const flenn_measurements *record) {
    return record->luma_pixels;
}

double flenn_measurements_source_bits(const flenn_measurements *record) {
    return record->source_bits;
}
