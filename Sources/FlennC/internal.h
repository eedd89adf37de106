/* Shared between the engine's source files; not part of the public interface. */
#ifndef FLENN_INTERNAL_H
#define FLENN_INTERNAL_H

#include <setjmp.h>
#include <stdio.h>

#include <stddef.h>
#include <stdio.h>

#include <jpeglib.h>
#include <jerror.h>

#include "flenn.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Exported by libjpeg-turbo but not declared in jpeglib.h. */
EXTERN(void) jpeg_gen_optimal_table(j_compress_ptr cinfo, JHUFF_TBL *htbl, long freq[]);

/* A library object's error manager: where its fatal errors jump and the sentence they leave. */
typedef struct flenn_errors {
    struct jpeg_error_mgr manager; /* first, so the library's err pointer finds the rest */
    jmp_buf *jump;
    char message[JMSG_LENGTH_MAX];
} flenn_errors;

struct flenn_session {
    struct jpeg_decompress_struct decompressor;
    flenn_errors errors;
    jvirt_barray_ptr *coefficients;
    flenn_info info;
    size_t input_length;
};

extern const char FLENN_DAMAGED[];

/* The standard error manager with fatal errors turned into jumps and warnings counted silently. */
struct jpeg_error_mgr *flenn_errors_install(flenn_errors *errors);

/* Copies a sentence into a caller's buffer, truncated to fit; no-op for a null or empty buffer. */
void flenn_copy_message(char *buffer, size_t capacity, const char *text);

/* The largest picture the engine opens, in pixels. */
int flenn_is_too_large(double width, double height);

/* The JPEG zigzag sequence: natural (row-major) position of each zigzag index. */
extern const int flenn_zigzag[64];

#ifdef __cplusplus
}
#endif

#endif
