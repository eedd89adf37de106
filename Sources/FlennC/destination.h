/* A libjpeg destination that writes into one growing malloc'd buffer. */
#ifndef FLENN_DESTINATION_H
#define FLENN_DESTINATION_H

#include <stddef.h>
#include <stdint.h>

#include <stddef.h>
#include <stdio.h>

#include <jpeglib.h>
#include <jerror.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct flenn_destination {
    struct jpeg_destination_mgr manager; /* first, so the library's dest pointer finds the rest */
    uint8_t *buffer;
    size_t capacity;
    size_t size; /* set when compression finishes */
} flenn_destination;

/* Takes a buffer of `capacity` bytes; the buffer may be moved while it grows. */
void flenn_destination_attach(j_compress_ptr compressor, flenn_destination *destination,
                              uint8_t *buffer, size_t capacity);

#ifdef __cplusplus
}
#endif

#endif
