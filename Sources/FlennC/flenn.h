/* The Flenned JPEG engine: a flat C interface over libjpeg-turbo.
 *
 * Every fallible function returns 0 on success and otherwise writes a finished English
 * sentence into the caller's buffer (truncated to fit). The engine never prints and keeps
 * no global mutable state: sessions may be used on different threads at once, but one
 * session runs one operation at a time. */
#ifndef FLENN_H
#define FLENN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct flenn_session flenn_session;

typedef struct flenn_info {
    uint32_t width;
    uint32_t height;
    int32_t components;
    int32_t is_simple;
    int32_t is_progressive;
    int32_t is_multi_picture;
    int32_t is_already_optimized;
    int32_t h_samp[4];
    int32_t v_samp[4];
    uint16_t quant[4][64]; /* natural (row-major) order */
    int64_t bytes_consumed;
    int64_t marker_bytes;
} flenn_info;

/* Entropy coding of a write. */
enum {
    FLENN_SCAN_PROGRESSIVE = 0,
    FLENN_SCAN_OPTIMIZED = 1,
    FLENN_SCAN_STANDARD = 2,
    FLENN_SCAN_COUNTED = 3
};

/* Which saved segments a write copies. */
enum { FLENN_MARKERS_ALL = 0, FLENN_MARKERS_ICC = 1, FLENN_MARKERS_NONE = 2 };

/* Statuses of flenn_session_write. */
enum {
    FLENN_OK = 0,
    FLENN_FAILED = 1,
    FLENN_REJECTED = 2,
    FLENN_SAMPLE_TOO_SMALL = 3
};

typedef struct flenn_settings {
    int32_t luma;
    int32_t chroma;
    int32_t tilt;
    int32_t deadzone;
    int32_t standard;
    const uint16_t *luma_table;
    const uint16_t *chroma_table;
    double matched_luma;
    double matched_chroma;
    double matched_cut;
    int32_t matched_uniform;
    const char *comment;
    int32_t scan;
    int32_t markers;
    int32_t sample_columns;
    int32_t sample_rows;
    int32_t tile_pixels;
} flenn_settings;

typedef struct flenn_comparison {
    double luma_ac;
    double luma_ac_differing;
    double luma_ac_nonzero_other;
    double chroma_differing;
    double dc_differing;
    double luma_ac_nonzero;
} flenn_comparison;

/* Reads the whole image. On failure *session is null and nothing stays allocated. */
int flenn_session_open(const uint8_t *data, size_t length, flenn_session **session,
                       char *message, size_t capacity);
void flenn_session_close(flenn_session *session);
const flenn_info *flenn_session_get_info(const flenn_session *session);

/* Writes the image again. On FLENN_OK *data is a malloc'd buffer of at least *size bytes
 * that the caller releases with free(); otherwise both outputs are null. */
int flenn_session_write(flenn_session *session, const flenn_settings *settings, uint8_t **data,
                        size_t *size, char *message, size_t capacity);

/* Counts coefficient differences between two sessions of the same geometry; 1 when they
 * are not comparable. */
int flenn_session_compare(flenn_session *session, flenn_session *other, flenn_comparison *result);

/* Decodes a JPEG file into a binary PNM file (P5 grey, P6 RGB). */
int flenn_decode_pnm(const char *source, const char *output, char *message, size_t capacity);

/* ---- Measurement ---- */

/* The measured features and size curves of one photo; independent of the session once made. */
typedef struct flenn_measurements flenn_measurements;

/* Measures the session's coefficients. On success *measurements is a record that the caller
 * releases with flenn_measurements_free; on failure it is null and a sentence is written. */
int flenn_session_measure(flenn_session *session, flenn_measurements **measurements,
                          char *message, size_t capacity);
void flenn_measurements_free(flenn_measurements *measurements);

/* The named values in emission order; an index outside the range gives "" and 0. */
int flenn_measurements_count(const flenn_measurements *measurements);
const char *flenn_measurements_name(const flenn_measurements *measurements, int index);
double flenn_measurements_value(const flenn_measurements *measurements, int index);

/* The estimated size in bits of a write with the standard tables at grid step 0 to 15. */
double flenn_measurements_estimated_bits(const flenn_measurements *measurements, int index);
/* The strength of grid step 0 to 15 in per mille of the standard tables (0 outside). */
int flenn_grid_strength(int index);
/* Pixels of the luma plane, and the source's entropy-coded size in bits. */
double flenn_measurements_luma_pixels(const flenn_measurements *measurements);
double flenn_measurements_source_bits(const flenn_measurements *measurements);

/* ---- Matched tables ---- */

/* The matched table for a source table at a scale (clamped to 0.002 to 8), following the
 * standard luma or chroma table; never finer than the source. */
void flenn_matched_table(const uint16_t source[64], int chroma, uint16_t table[64], double scale);
/* The cut level of a scale: how hard small luma coefficients are cut. */
double flenn_matched_cut(double scale);
/* The matched scale of step 0 to 15 (0 outside). */
double flenn_matched_grid_scale(int index);

/* The estimated size in bits of a matched write at each matched step, and its five parts
 * (magnitude bits, non-zero coefficients, blocks, DC bits, entropy bits). */
double flenn_measurements_matched_bits(const flenn_measurements *measurements, int index);
double flenn_measurements_matched_part(const flenn_measurements *measurements, int step,
                                       int part);
/* The estimate at any scale; a chroma scale of 0 means the luma scale. 0 for a scale <= 0. */
double flenn_measurements_matched_bits_at(const flenn_measurements *measurements, double scale,
                                          double chroma);
double flenn_measurements_matched_parts_at(const flenn_measurements *measurements,
                                           double parts[5], double scale, double chroma);

#ifdef __cplusplus
}
#endif

#endif
