/* Exact Huffman statistics gathered while the writer holds the blocks, so the library codes a
 * sequential file with optimal tables in a single pass. */
#ifndef FLENN_HUFFMAN_H
#define FLENN_HUFFMAN_H

#include <stdint.h>

#include <stddef.h>
#include <stdio.h>

#include <jpeglib.h>
#include <jerror.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct flenn_statistics {
    uint32_t dc[NUM_HUFF_TBLS][17];
    uint32_t ac[NUM_HUFF_TBLS][256];
    int overflow;
    /* Maps each byte of a natural-order non-zero mask to its bits in zigzag order. */
    uint64_t zigzag_bits[8][256];
} flenn_statistics;

/* Allocates the record in the compressor's image pool. */
flenn_statistics *flenn_statistics_create(j_compress_ptr compressor);

/* Counts the AC symbols of `count` consecutive blocks into table slot `slot`. */
void flenn_statistics_count_ac(flenn_statistics *stats, int slot, const JBLOCK *blocks,
                               JDIMENSION count);

/* Counts the DC symbols of the finished arrays (and the padding blocks of the MCU grid), then
 * builds every table in use; a value beyond baseline range raises the coefficient-range error. */
void flenn_statistics_finish(flenn_statistics *stats, j_compress_ptr compressor,
                             jvirt_barray_ptr *arrays);

#ifdef __cplusplus
}
#endif

#endif
