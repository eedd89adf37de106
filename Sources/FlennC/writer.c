/* Writing a session again: losslessly with better entropy coding, requantized onto coarser
 * tables, or as a mosaic of sampled tiles. */
#include "writer.h"

#include <stdlib.h>
#include <string.h>

#include "texture.h"

static const char OUT_OF_RANGE[] = "Compression settings out of range";
static const char SAMPLE_OUT_OF_RANGE[] = "Sample settings out of range";

static void *image_memory(flenn_writer *w, size_t size) {
    return (*w->compressor.mem->alloc_small)((j_common_ptr)&w->compressor, JPOOL_IMAGE, size);
}

static void fail_with(flenn_writer *w, const char *sentence) {
    flenn_copy_message(w->errors.message, sizeof w->errors.message, sentence);
}

static const char *rejection(const flenn_settings *s) {
    /* Written so that a NaN fails each test. */
    if (!(s->matched_luma >= 0 && s->matched_luma <= 8) ||
        !(s->matched_chroma >= 0 && s->matched_chroma <= 8) || !(s->matched_cut <= 4))
        return OUT_OF_RANGE;
    if (s->matched_luma <= 0 && !s->luma_table) {
        int lowest = s->standard ? 10 : 100, highest = s->standard ? 9000 : 1600;
        if (s->luma < lowest || s->luma > highest || s->chroma < lowest || s->chroma > highest)
            return OUT_OF_RANGE;
    }
    if ((uint32_t)s->tilt > 200 || (uint32_t)s->deadzone > 45 || (uint32_t)s->scan > 3 ||
        (uint32_t)s->markers > 2)
        return OUT_OF_RANGE;
    if (s->sample_columns < 0)
        return SAMPLE_OUT_OF_RANGE;
    if (s->sample_columns > 0 &&
        (s->sample_rows < 1 || s->sample_rows > 4096 || s->sample_columns > 4096 ||
         s->tile_pixels < 16 || s->tile_pixels > 65536))
        return SAMPLE_OUT_OF_RANGE;
    return NULL;
}

static int is_lossless(const flenn_settings *s) {
    return s->matched_luma <= 0 && !s->luma_table && !s->standard && s->luma == 100 &&
           s->chroma == 100 && s->deadzone == 0;
}

/* Places the tiles of a sample; returns 0 when the photo holds too few whole MCUs. */
static int place_sample(flenn_writer *w) {
    const flenn_settings *s = w->settings;
    const struct jpeg_decompress_struct *d = &w->session->decompressor;
    JDIMENSION mcu_width = 8, mcu_height = 8;
    if (d->num_components > 1) {
        mcu_width = 8 * d->max_h_samp_factor;
        mcu_height = 8 * d->max_v_samp_factor;
    }
    JDIMENSION across = (s->tile_pixels + mcu_width - 1) / mcu_width;
    JDIMENSION down = (s->tile_pixels + mcu_height - 1) / mcu_height;
    JDIMENSION available_across = d->image_width / mcu_width;
    JDIMENSION available_down = d->image_height / mcu_height;
    JDIMENSION columns = (JDIMENSION)s->sample_columns, rows = (JDIMENSION)s->sample_rows;
    if (available_across / columns < across || available_down / rows < down)
        return 0;

    w->sampled = 1;
    w->tile_across = across;
    w->tile_down = down;
    w->tile_column_mcu = image_memory(w, columns * sizeof(JDIMENSION));
    w->tile_row_mcu = image_memory(w, rows * sizeof(JDIMENSION));
    for (JDIMENSION c = 0; c < columns; c++)
        w->tile_column_mcu[c] =
            (JDIMENSION)((c + 0.5) * (double)(available_across - across) / columns);
    for (JDIMENSION r = 0; r < rows; r++)
        w->tile_row_mcu[r] = (JDIMENSION)((r + 0.5) * (double)(available_down - down) / rows);
    w->compressor.image_width = mcu_width * columns * across;
    w->compressor.image_height = mcu_height * rows * down;
    return 1;
}

static JDIMENSION round_up(JDIMENSION value, int multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

static void plan_components(flenn_writer *w) {
    const struct jpeg_decompress_struct *d = &w->session->decompressor;
    for (int ci = 0; ci < d->num_components; ci++) {
        const jpeg_component_info *source = &d->comp_info[ci];
        int h = d->num_components == 1 ? 1 : source->h_samp_factor;
        int v = d->num_components == 1 ? 1 : source->v_samp_factor;
        w->h[ci] = h;
        w->v[ci] = v;
        if (w->sampled) {
            w->blocks_across[ci] = (JDIMENSION)w->settings->sample_columns * w->tile_across * h;
            w->blocks_down[ci] = (JDIMENSION)w->settings->sample_rows * w->tile_down * v;
        } else {
            w->blocks_across[ci] = source->width_in_blocks;
            w->blocks_down[ci] = source->height_in_blocks;
        }
        w->padded_across[ci] = round_up(w->blocks_across[ci], h);
        w->padded_down[ci] = round_up(w->blocks_down[ci], v);
    }
}

/* The cut of a matched write's luma map: none when the settings disable it. */
static double matched_cut_value(const flenn_settings *s) {
    if (s->matched_cut < 0)
        return 0;
    return (s->matched_cut > 0 ? s->matched_cut : 1) * flenn_matched_cut(s->matched_luma);
}

/* Matched mode's per-tile luma maps: a busier tile gets a different cut multiplier. */
static void plan_tile_maps(flenn_writer *w, double cut) {
    const flenn_settings *s = w->settings;
    const uint16_t *source = w->session->info.quant[0];
    const UINT16 *table = w->compressor.quant_tbl_ptrs[w->compressor.comp_info[0].quant_tbl_no]
                              ->quantval;
    size_t tiles = (size_t)flenn_tiles_across(w->session) * flenn_tiles_down(w->session);
    float *activities = image_memory(w, tiles * sizeof(float));
    uint32_t *counts = image_memory(w, tiles * sizeof(uint32_t));
    w->tile_class = image_memory(w, tiles);
    w->tiles_across = (JDIMENSION)flenn_tiles_across(w->session);
    flenn_matched_tile_classes(w->session, s->matched_luma, s->matched_uniform, activities, counts,
                               w->tile_class);
    for (size_t t = 0; t < tiles; t++) {
        int c = w->tile_class[t];
        if (w->class_maps[c])
            continue;
        w->class_maps[c] = image_memory(w, sizeof(flenn_map));
        flenn_map_build(w->class_maps[c], source, table, 0.0, (0.5 + 0.02 * c) * cut);
    }
    w->maps[0] = w->class_maps[w->tile_class[0]]; /* luma is then never copied unchanged */
}

/* New tables in the compressor's slots and one map per component; 1 with a sentence on failure. */
static int requantize_tables(flenn_writer *w) {
    struct jpeg_compress_struct *c = &w->compressor;
    const flenn_info *info = &w->session->info;
    const flenn_settings *s = w->settings;
    int matched = s->matched_luma > 0;
    double cut = matched ? matched_cut_value(s) : 0;
    int decided[NUM_QUANT_TBLS] = {0};
    for (int ci = 0; ci < c->num_components; ci++) {
        int slot = c->comp_info[ci].quant_tbl_no;
        JQUANT_TBL *table = c->quant_tbl_ptrs[slot];
        if (!table) {
            fail_with(w, "Missing quantization table");
            return 1;
        }
        int is_luma = ci == 0 || c->num_components == 1;
        if (!decided[slot]) {
            uint16_t derived[64];
            if (matched && !s->luma_table)
                flenn_matched_table(info->quant[ci], !is_luma, derived,
                                    !is_luma && s->matched_chroma > 0 ? s->matched_chroma
                                                                      : s->matched_luma);
            else
                flenn_derive_table(s, is_luma, ci == 0 ? s->luma : s->chroma, info->quant[ci],
                                   derived);
            for (int k = 0; k < 64; k++)
                table->quantval[k] = derived[k];
            decided[slot] = 1;
        }
        flenn_map *map = image_memory(w, sizeof(flenn_map));
        if (matched)
            flenn_map_build(map, info->quant[ci], table->quantval, 0.0, ci == 0 ? cut : 0.0);
        else
            flenn_map_build(map, info->quant[ci], table->quantval, s->deadzone / 100.0, -1.0);
        w->maps[ci] = map->identity ? NULL : map;
    }
    if (matched && s->matched_cut >= 0)
        plan_tile_maps(w, cut);
    return 0;
}

static void set_up_entropy_coding(flenn_writer *w) {
    struct jpeg_compress_struct *c = &w->compressor;
    int scan = w->settings->scan;
    if (scan == FLENN_SCAN_STANDARD)
        return;
    if (scan == FLENN_SCAN_COUNTED && c->data_precision == 8) {
        w->statistics = flenn_statistics_create(c);
        return;
    }
    c->optimize_coding = TRUE;
    if (scan == FLENN_SCAN_PROGRESSIVE)
        jpeg_simple_progression(c);
}

static int is_copied(const flenn_writer *w, jpeg_saved_marker_ptr marker) {
    switch (w->settings->markers) {
    case FLENN_MARKERS_ALL:
        return 1;
    case FLENN_MARKERS_ICC:
        return marker->marker == JPEG_APP0 + 2 && marker->data_length >= 12 &&
               memcmp(marker->data, "ICC_PROFILE", 12) == 0;
    default:
        return 0;
    }
}

static int has_comment(const flenn_writer *w) {
    return w->settings->comment && w->settings->comment[0];
}

static void decide_headers(flenn_writer *w) {
    struct jpeg_compress_struct *c = &w->compressor;
    int copies = 0;
    for (jpeg_saved_marker_ptr m = w->session->decompressor.marker_list; m; m = m->next)
        copies += is_copied(w, m);
    c->write_JFIF_header =
        has_comment(w) && copies == 0 &&
        (c->jpeg_color_space == JCS_GRAYSCALE || c->jpeg_color_space == JCS_YCbCr);
    c->write_Adobe_marker = FALSE;
}

static int keeps_every_coefficient(const flenn_writer *w) {
    if (w->sampled)
        return 0;
    for (int ci = 0; ci < w->compressor.num_components; ci++)
        if (w->maps[ci])
            return 0;
    return 1;
}

static void request_arrays(flenn_writer *w) {
    struct jpeg_compress_struct *c = &w->compressor;
    w->arrays = image_memory(w, sizeof(jvirt_barray_ptr) * c->num_components);
    for (int ci = 0; ci < c->num_components; ci++)
        w->arrays[ci] = (*c->mem->request_virt_barray)((j_common_ptr)c, JPOOL_IMAGE, FALSE,
                                                       w->padded_across[ci], w->padded_down[ci],
                                                       c->comp_info[ci].v_samp_factor);
}

static JBLOCKROW source_row(flenn_writer *w, int ci, JDIMENSION row) {
    struct jpeg_decompress_struct *d = &w->session->decompressor;
    return (*d->mem->access_virt_barray)((j_common_ptr)d, w->session->coefficients[ci], row, 1,
                                         FALSE)[0];
}

static void count_source_ac(flenn_writer *w) {
    struct jpeg_compress_struct *c = &w->compressor;
    for (int ci = 0; ci < c->num_components; ci++)
        for (JDIMENSION row = 0; row < w->blocks_down[ci]; row++)
            flenn_statistics_count_ac(w->statistics, c->comp_info[ci].ac_tbl_no,
                                      source_row(w, ci, row), w->blocks_across[ci]);
}

static void copy_segments(flenn_writer *w) {
    for (jpeg_saved_marker_ptr m = w->session->decompressor.marker_list; m; m = m->next)
        if (is_copied(w, m))
            jpeg_write_marker(&w->compressor, m->marker, m->data, m->data_length);
    if (has_comment(w))
        jpeg_write_marker(&w->compressor, JPEG_COM, (const JOCTET *)w->settings->comment,
                          (unsigned)strlen(w->settings->comment));
}

/* Blocks of one output row from `count` source blocks starting at block (row, column) of the
 * source; luma blocks of a matched write with per-tile cuts use their source tile's map. */
static void produce_blocks(const flenn_writer *w, int ci, JBLOCKROW out, JBLOCKROW in,
                           JDIMENSION count, JDIMENSION row, JDIMENSION column) {
    if (ci == 0 && w->tile_class) {
        const uint8_t *classes = w->tile_class + (size_t)(row / TILE_BLOCKS) * w->tiles_across;
        for (JDIMENSION b = 0; b < count; b++)
            flenn_map_apply(w->class_maps[classes[(column + b) / TILE_BLOCKS]], in[b], out[b]);
        return;
    }
    const flenn_map *map = w->maps[ci];
    if (!map) {
        memcpy(out, in, count * sizeof(JBLOCK));
        return;
    }
    for (JDIMENSION b = 0; b < count; b++)
        flenn_map_apply(map, in[b], out[b]);
}

static void fill_arrays(flenn_writer *w) {
    struct jpeg_compress_struct *c = &w->compressor;
    for (int ci = 0; ci < c->num_components; ci++) {
        JDIMENSION across = w->blocks_across[ci];
        JDIMENSION tile_blocks_across = w->tile_across * w->h[ci];
        JDIMENSION tile_blocks_down = w->tile_down * w->v[ci];
        for (JDIMENSION i = 0; i < w->padded_down[ci]; i++) {
            JBLOCKROW out =
                (*c->mem->access_virt_barray)((j_common_ptr)c, w->arrays[ci], i, 1, TRUE)[0];
            if (i >= w->blocks_down[ci]) {
                memset(out, 0, w->padded_across[ci] * sizeof(JBLOCK));
                continue;
            }
            if (!w->sampled) {
                produce_blocks(w, ci, out, source_row(w, ci, i), across, i, 0);
            } else {
                JDIMENSION tile_row = i / tile_blocks_down;
                JDIMENSION row = i % tile_blocks_down + w->v[ci] * w->tile_row_mcu[tile_row];
                JBLOCKROW in = source_row(w, ci, row);
                for (int t = 0; t < w->settings->sample_columns; t++) {
                    JDIMENSION column = w->h[ci] * w->tile_column_mcu[t];
                    produce_blocks(w, ci, out + t * tile_blocks_across, in + column,
                                   tile_blocks_across, row, column);
                }
            }
            memset(out + across, 0, (w->padded_across[ci] - across) * sizeof(JBLOCK));
            if (w->statistics)
                flenn_statistics_count_ac(w->statistics, c->comp_info[ci].ac_tbl_no, out, across);
        }
    }
}

static int geometry_matches(const flenn_writer *w) {
    for (int ci = 0; ci < w->compressor.num_components; ci++) {
        const jpeg_component_info *component = &w->compressor.comp_info[ci];
        if (component->width_in_blocks != w->blocks_across[ci] ||
            component->height_in_blocks != w->blocks_down[ci])
            return 0;
    }
    return 1;
}

/* The steps of a write that may end in a library error. */
static int write_steps(flenn_writer *w) {
    struct jpeg_compress_struct *c = &w->compressor;
    struct jpeg_decompress_struct *d = &w->session->decompressor;
    jpeg_create_compress(c);
    flenn_destination_attach(c, &w->destination, w->destination.buffer, w->destination.capacity);
    jpeg_copy_critical_parameters(d, c);
    if (c->num_components == 1) {
        /* A lone component is coded one block per MCU whatever factors it declares; plain 1 × 1
         * keeps the compressor's row access within arrays sized by block rows. */
        c->comp_info[0].h_samp_factor = 1;
        c->comp_info[0].v_samp_factor = 1;
    }

    if (w->settings->sample_columns > 0 && !place_sample(w)) {
        fail_with(w, "The image is too small to sample");
        return FLENN_SAMPLE_TOO_SMALL;
    }
    plan_components(w);
    if (!is_lossless(w->settings) && requantize_tables(w) != 0)
        return FLENN_FAILED;
    set_up_entropy_coding(w);
    decide_headers(w);

    int handed_over = keeps_every_coefficient(w);
    if (handed_over)
        w->arrays = w->session->coefficients;
    else
        request_arrays(w);
    jpeg_write_coefficients(c, w->arrays);
    if (!geometry_matches(w)) {
        fail_with(w, "Internal error: coefficient array geometry");
        return FLENN_FAILED;
    }
    if (handed_over && w->statistics)
        count_source_ac(w);
    copy_segments(w);
    if (!handed_over)
        fill_arrays(w);
    if (w->statistics)
        flenn_statistics_finish(w->statistics, c, w->arrays);
    jpeg_finish_compress(c);
    if (c->err->num_warnings > 0 || d->err->num_warnings > 0) {
        fail_with(w, FLENN_DAMAGED);
        return FLENN_FAILED;
    }
    return FLENN_OK;
}

static int guarded_write(flenn_writer *w) {
    jmp_buf jump;
    if (setjmp(jump)) {
        w->session->errors.jump = NULL;
        w->errors.jump = NULL;
        return FLENN_FAILED;
    }
    w->session->errors.jump = &jump;
    w->errors.jump = &jump;
    int status = write_steps(w);
    w->session->errors.jump = NULL;
    w->errors.jump = NULL;
    return status;
}

int flenn_session_write(flenn_session *session, const flenn_settings *settings, uint8_t **data,
                        size_t *size, char *message, size_t capacity) {
    *data = NULL;
    *size = 0;
    const char *rejected = rejection(settings);
    if (rejected) {
        flenn_copy_message(message, capacity, rejected);
        return FLENN_REJECTED;
    }
    flenn_writer w;
    memset(&w, 0, sizeof w);
    w.compressor.err = flenn_errors_install(&w.errors);
    w.session = session;
    w.settings = settings;
    session->errors.message[0] = '\0';

    w.destination.capacity = session->input_length / 2 + 65536;
    w.destination.buffer = malloc(w.destination.capacity);
    if (!w.destination.buffer) {
        flenn_copy_message(message, capacity, "Out of memory");
        return FLENN_FAILED;
    }
    int status = guarded_write(&w);
    jpeg_destroy_compress(&w.compressor);
    if (status != FLENN_OK) {
        free(w.destination.buffer);
        const char *sentence = session->errors.message[0] ? session->errors.message
                               : w.errors.message[0]      ? w.errors.message
                                                          : "Recompression failed";
        flenn_copy_message(message, capacity, sentence);
        return status;
    }
    *data = w.destination.buffer;
    *size = w.destination.size;
    return FLENN_OK;
}
