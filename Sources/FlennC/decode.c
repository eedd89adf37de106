/* Decoding a JPEG file into a binary PNM file, for a quality checker that cannot read the JPEG. */
#include <stdlib.h>

#include "internal.h"

typedef struct flenn_decoder {
    struct jpeg_decompress_struct decompressor;
    flenn_errors errors;
    JSAMPLE *row;
    FILE *source;
    FILE *output;
} flenn_decoder;

static int fail_with(flenn_decoder *decoder, const char *sentence) {
    flenn_copy_message(decoder->errors.message, sizeof decoder->errors.message, sentence);
    return 1;
}

static int decode_steps(flenn_decoder *decoder) {
    struct jpeg_decompress_struct *d = &decoder->decompressor;
    jpeg_create_decompress(d);
    jpeg_stdio_src(d, decoder->source);
    jpeg_read_header(d, TRUE);
    if (d->data_precision != 8)
        return fail_with(decoder, "Unsupported sample precision");
    d->out_color_space = d->num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(d);

    fprintf(decoder->output, "P%d\n%u %u\n255\n", d->output_components == 1 ? 5 : 6,
            d->output_width, d->output_height);
    size_t row_bytes = (size_t)d->output_width * d->output_components;
    decoder->row = malloc(row_bytes);
    if (!decoder->row)
        return fail_with(decoder, "Out of memory");
    while (d->output_scanline < d->output_height) {
        JSAMPROW rows[1] = {decoder->row};
        jpeg_read_scanlines(d, rows, 1);
        if (fwrite(decoder->row, 1, row_bytes, decoder->output) != row_bytes)
            return fail_with(decoder, "Could not write pixels");
    }
    jpeg_finish_decompress(d);
    if (d->err->num_warnings > 0)
        return fail_with(decoder, FLENN_DAMAGED);
    return 0;
}

static int guarded_decode(flenn_decoder *decoder) {
    jmp_buf jump;
    if (setjmp(jump)) {
        decoder->errors.jump = NULL;
        return 1;
    }
    decoder->errors.jump = &jump;
    int status = decode_steps(decoder);
    decoder->errors.jump = NULL;
    return status;
}

int flenn_decode_pnm(const char *source, const char *output, char *message, size_t capacity) {
    flenn_decoder *decoder = calloc(1, sizeof *decoder);
    if (!decoder) {
        flenn_copy_message(message, capacity, "Out of memory");
        return 1;
    }
    decoder->decompressor.err = flenn_errors_install(&decoder->errors);
    int status = 1;
    decoder->source = fopen(source, "rb");
    if (!decoder->source) {
        fail_with(decoder, "Could not open the file");
    } else if (!(decoder->output = fopen(output, "wb"))) {
        fail_with(decoder, "Could not create the output file");
    } else {
        status = guarded_decode(decoder);
        if (status != 0 && !decoder->errors.message[0])
            fail_with(decoder, "Could not decode the image");
    }
    jpeg_destroy_decompress(&decoder->decompressor);
    free(decoder->row);
    if (decoder->source)
        fclose(decoder->source);
    if (decoder->output && fclose(decoder->output) != 0 && status == 0)
        status = fail_with(decoder, "Could not finish writing pixels");
    if (status != 0)
        flenn_copy_message(message, capacity, decoder->errors.message);
    free(decoder);
    return status;
}
