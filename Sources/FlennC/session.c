/* Opening a JPEG held in memory as a session of quantized DCT coefficients. */
#include <stdlib.h>
#include <string.h>

#include "internal.h"

const char FLENN_DAMAGED[] = "This JPEG is damaged. Export it again from your editor or camera.";
static const char UNREADABLE[] =
    "This file is not a readable JPEG. Export it again from your editor or camera.";

const int flenn_zigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

static void fail(j_common_ptr object) {
    flenn_errors *errors = (flenn_errors *)object->err;
    (*object->err->format_message)(object, errors->message);
    if (errors->jump)
        longjmp(*errors->jump, 1);
    abort(); /* every library call runs inside a guarded operation */
}

/* Warnings are never shown, only counted: a non-zero count fails the operation as damaged. */
static void quiet(j_common_ptr object, int level) {
    if (level < 0)
        object->err->num_warnings++;
}

struct jpeg_error_mgr *flenn_errors_install(flenn_errors *errors) {
    struct jpeg_error_mgr *manager = jpeg_std_error(&errors->manager);
    manager->error_exit = fail;
    manager->emit_message = quiet;
    errors->jump = NULL;
    errors->message[0] = '\0';
    return manager;
}

void flenn_copy_message(char *buffer, size_t capacity, const char *text) {
    if (!buffer || capacity == 0)
        return;
    size_t length = strlen(text);
    if (length >= capacity)
        length = capacity - 1;
    memcpy(buffer, text, length);
    buffer[length] = '\0';
}

int flenn_is_too_large(double width, double height) { return width * height > 400000000.0; }

static void fail_with(flenn_session *session, const char *sentence) {
    flenn_copy_message(session->errors.message, sizeof session->errors.message, sentence);
}

static int starts_with(const jpeg_saved_marker_ptr marker, const char *text, size_t length) {
    return marker->data_length >= length && memcmp(marker->data, text, length) == 0;
}

static void read_saved_segments(flenn_session *session) {
    for (jpeg_saved_marker_ptr marker = session->decompressor.marker_list; marker;
         marker = marker->next) {
        session->info.marker_bytes += (int64_t)marker->data_length + 4;
        if (marker->marker == JPEG_APP0 + 2 && starts_with(marker, "MPF", 4))
            session->info.is_multi_picture = 1;
        if (marker->marker == JPEG_COM &&
            (starts_with(marker, "Flenned", 7) || starts_with(marker, "Optimized by Ostrel", 19)))
            session->info.is_already_optimized = 1;
    }
}

/* The steps of opening that may end in a library error; returns 1 with the sentence set. */
static int open_steps(flenn_session *session, const uint8_t *data, size_t length) {
    struct jpeg_decompress_struct *d = &session->decompressor;
    jpeg_create_decompress(d);
    jpeg_mem_src(d, data, (unsigned long)length);
    jpeg_save_markers(d, JPEG_COM, 0xFFFF);
    for (int app = 0; app < 16; app++)
        jpeg_save_markers(d, JPEG_APP0 + app, 0xFFFF);
    jpeg_read_header(d, TRUE);

    if (d->num_components < 1 || d->num_components > 4) {
        fail_with(session, "Unsupported number of color channels");
        return 1;
    }
    if (flenn_is_too_large(d->image_width, d->image_height)) {
        fail_with(session, "The image is too large");
        return 1;
    }
    flenn_info *info = &session->info;
    info->width = d->image_width;
    info->height = d->image_height;
    info->components = d->num_components;
    info->is_progressive = d->progressive_mode ? 1 : 0;
    info->is_simple = d->data_precision == 8 &&
                      ((d->num_components == 1 && d->jpeg_color_space == JCS_GRAYSCALE) ||
                       (d->num_components == 3 && d->jpeg_color_space == JCS_YCbCr));
    read_saved_segments(session);

    session->coefficients = jpeg_read_coefficients(d);
    if (session->errors.manager.num_warnings > 0) {
        fail_with(session, FLENN_DAMAGED);
        return 1;
    }
    info->bytes_consumed = (int64_t)length - (int64_t)d->src->bytes_in_buffer;

    for (int ci = 0; ci < d->num_components; ci++) {
        const jpeg_component_info *component = &d->comp_info[ci];
        if (!component->quant_table) {
            fail_with(session, "A color channel has no image data");
            return 1;
        }
        info->h_samp[ci] = component->h_samp_factor;
        info->v_samp[ci] = component->v_samp_factor;
        for (int k = 0; k < DCTSIZE2; k++)
            info->quant[ci][k] = component->quant_table->quantval[k];
    }
    return 0;
}

static int guarded_open(flenn_session *session, const uint8_t *data, size_t length) {
    jmp_buf jump;
    if (setjmp(jump)) {
        session->errors.jump = NULL;
        return 1;
    }
    session->errors.jump = &jump;
    int status = open_steps(session, data, length);
    session->errors.jump = NULL;
    return status;
}

int flenn_session_open(const uint8_t *data, size_t length, flenn_session **out, char *message,
                       size_t capacity) {
    *out = NULL;
    if (!data || length == 0) {
        flenn_copy_message(message, capacity, "Empty input");
        return 1;
    }
    flenn_session *session = calloc(1, sizeof *session);
    if (!session) {
        flenn_copy_message(message, capacity, "Out of memory");
        return 1;
    }
    session->decompressor.err = flenn_errors_install(&session->errors);
    session->input_length = length;

    if (guarded_open(session, data, length) != 0) {
        flenn_copy_message(message, capacity,
                           session->errors.message[0] ? session->errors.message : UNREADABLE);
        jpeg_destroy_decompress(&session->decompressor);
        free(session);
        return 1;
    }
    *out = session;
    return 0;
}

void flenn_session_close(flenn_session *session) {
    if (!session)
        return;
    jpeg_destroy_decompress(&session->decompressor);
    free(session);
}

const flenn_info *flenn_session_get_info(const flenn_session *session) { return &session->info; }
