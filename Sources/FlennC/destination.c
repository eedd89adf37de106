#include "destination.h"

#include <stdint.h>
#include <stdlib.h>

static flenn_destination *of(j_compress_ptr compressor) {
    return (flenn_destination *)compressor->dest;
}

static void dest_init(j_compress_ptr compressor) {
    flenn_destination *d = of(compressor);
    d->manager.next_output_byte = d->buffer;
    d->manager.free_in_buffer = d->capacity;
}

static boolean dest_grow(j_compress_ptr compressor) {
    flenn_destination *d = of(compressor);
    size_t old_capacity = d->capacity;
    if (old_capacity > SIZE_MAX / 2)
        ERREXIT1(compressor, JERR_OUT_OF_MEMORY, 0);
    uint8_t *grown = realloc(d->buffer, old_capacity * 2);
    if (!grown)
        ERREXIT1(compressor, JERR_OUT_OF_MEMORY, 0);
    d->buffer = grown;
    d->capacity = old_capacity * 2;
    d->manager.next_output_byte = grown + old_capacity;
    d->manager.free_in_buffer = old_capacity;
    return TRUE;
}

static void dest_term(j_compress_ptr compressor) {
    flenn_destination *d = of(compressor);
    d->size = d->capacity - d->manager.free_in_buffer;
}

void flenn_destination_attach(j_compress_ptr compressor, flenn_destination *destination,
                              uint8_t *buffer, size_t capacity) {
    destination->manager.init_destination = dest_init;
    destination->manager.empty_output_buffer = dest_grow;
    destination->manager.term_destination = dest_term;
    destination->buffer = buffer;
    destination->capacity = capacity;
    destination->size = 0;
    compressor->dest = &destination->manager;
}
