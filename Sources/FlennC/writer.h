/* The state of one write: a compressor fed from a session's coefficients. */
#ifndef FLENN_WRITER_H
#define FLENN_WRITER_H

#include "destination.h"
#include "huffman.h"
#include "internal.h"
#include "matched.h"
#include "requant.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct flenn_writer {
    struct jpeg_compress_struct compressor;
    flenn_errors errors;
    flenn_session *session;
    const flenn_settings *settings;
    flenn_destination destination;

    /* A sampled mosaic: tiles of whole MCUs and the source MCU of each tile column and row. */
    int sampled;
    JDIMENSION tile_across, tile_down;
    JDIMENSION *tile_column_mcu, *tile_row_mcu;

    /* Per component: sampling used for block geometry, and the output's size in blocks. */
    int h[MAX_COMPONENTS], v[MAX_COMPONENTS];
    JDIMENSION blocks_across[MAX_COMPONENTS], blocks_down[MAX_COMPONENTS];
    JDIMENSION padded_across[MAX_COMPONENTS], padded_down[MAX_COMPONENTS];

    flenn_map *maps[MAX_COMPONENTS]; /* null where a component keeps its coefficients */
    /* Matched mode with per-tile cuts: the class of each 32 × 32-block luma tile (null when
     * unused) and the luma map of each class that occurs. */
    uint8_t *tile_class;
    JDIMENSION tiles_across;
    flenn_map *class_maps[MATCHED_CLASSES];
    flenn_statistics *statistics;    /* set in counted entropy-coding mode */
    jvirt_barray_ptr *arrays;        /* the arrays the library codes */
} flenn_writer;

#ifdef __cplusplus
}
#endif

#endif
