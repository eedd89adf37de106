#include "huffman.h"

#include <string.h>

#include "blockmask.h"
#include "internal.h"

flenn_statistics *flenn_statistics_create(j_compress_ptr compressor) {
    flenn_statistics *stats = (*compressor->mem->alloc_small)(
        (j_common_ptr)compressor, JPOOL_IMAGE, sizeof(flenn_statistics));
    memset(stats, 0, sizeof *stats);
    int zigzag_index[64];
    for (int z = 0; z < 64; z++)
        zigzag_index[flenn_zigzag[z]] = z;
    for (int byte = 0; byte < 8; byte++)
        for (int value = 0; value < 256; value++) {
            uint64_t bits = 0;
            for (int bit = 0; bit < 8; bit++)
                if (value & (1 << bit))
                    bits |= (uint64_t)1 << zigzag_index[byte * 8 + bit];
            stats->zigzag_bits[byte][value] = bits;
        }
    return stats;
}

static int bit_length(unsigned magnitude) {
    return magnitude ? 32 - __builtin_clz(magnitude) : 0;
}

void flenn_statistics_count_ac(flenn_statistics *stats, int slot, const JBLOCK *blocks,
                               JDIMENSION count) {
    uint32_t *ac = stats->ac[slot];
    for (JDIMENSION b = 0; b < count; b++) {
        const JCOEF *block = blocks[b];
        uint64_t natural = flenn_nonzero_mask(block);
        uint64_t zigzag = 0;
        for (int byte = 0; byte < 8; byte++)
            zigzag |= stats->zigzag_bits[byte][(natural >> (8 * byte)) & 0xFF];
        zigzag &= ~(uint64_t)1; /* the DC is counted separately */
        int previous = 0;
        uint32_t long_runs = 0;
        while (zigzag) {
            int z = __builtin_ctzll(zigzag);
            int run = z - previous - 1;
            long_runs += (uint32_t)run >> 4;
            int value = block[flenn_zigzag[z]];
            unsigned magnitude = (unsigned)(value < 0 ? -value : value);
            int size = 32 - __builtin_clz(magnitude); /* only non-zero values are visited */
            if (magnitude > 1023) {
                stats->overflow = 1;
                size = 10;
            }
            ac[((run & 15) << 4) + size]++;
            previous = z;
            zigzag &= zigzag - 1;
        }
        ac[0xF0] += long_runs;
        if (previous != 63)
            ac[0x00]++;
    }
}

static void count_dc(flenn_statistics *stats, int slot, int difference) {
    unsigned magnitude = (unsigned)(difference < 0 ? -difference : difference);
    int category = bit_length(magnitude);
    if (magnitude > 2047) {
        stats->overflow = 1;
        category = 11;
    }
    stats->dc[slot][category]++;
}

/* DC differences of one component in the order the scan codes its blocks. */
static void count_component_dc(flenn_statistics *stats, j_compress_ptr compressor,
                               jpeg_component_info *component, jvirt_barray_ptr array) {
    int interleaved = compressor->num_components > 1;
    int h = interleaved ? component->h_samp_factor : 1;
    int v = interleaved ? component->v_samp_factor : 1;
    JDIMENSION across = component->width_in_blocks, down = component->height_in_blocks;
    JDIMENSION mcus_across = across, mcu_rows = down;
    if (interleaved) {
        mcus_across = (compressor->image_width + 8 * compressor->max_h_samp_factor - 1) /
                      (8 * compressor->max_h_samp_factor);
        mcu_rows = (compressor->image_height + 8 * compressor->max_v_samp_factor - 1) /
                   (8 * compressor->max_v_samp_factor);
    }
    int dc_slot = component->dc_tbl_no, ac_slot = component->ac_tbl_no;
    int predictor = 0;
    for (JDIMENSION mcu_row = 0; mcu_row < mcu_rows; mcu_row++) {
        JBLOCKARRAY rows[4] = {NULL, NULL, NULL, NULL};
        for (int j = 0; j < v; j++) {
            JDIMENSION row = mcu_row * v + j;
            if (row < down)
                rows[j] = (*compressor->mem->access_virt_barray)((j_common_ptr)compressor, array,
                                                                 row, 1, FALSE);
        }
        for (JDIMENSION mcu = 0; mcu < mcus_across; mcu++)
            for (int j = 0; j < v; j++)
                for (int i = 0; i < h; i++) {
                    JDIMENSION column = mcu * h + i;
                    if (rows[j] && column < across) {
                        int dc = rows[j][0][column][0];
                        count_dc(stats, dc_slot, dc - predictor);
                        predictor = dc;
                    } else {
                        /* The library codes an edge block with the previous DC and no AC. */
                        stats->dc[dc_slot][0]++;
                        stats->ac[ac_slot][0x00]++;
                    }
                }
    }
}

static void fill_table(j_compress_ptr compressor, JHUFF_TBL **slot, const uint32_t *counts,
                       int count) {
    long frequencies[257];
    memset(frequencies, 0, sizeof frequencies);
    for (int i = 0; i < count; i++)
        frequencies[i] = counts[i];
    if (!*slot)
        *slot = jpeg_alloc_huff_table((j_common_ptr)compressor);
    jpeg_gen_optimal_table(compressor, *slot, frequencies);
}

void flenn_statistics_finish(flenn_statistics *stats, j_compress_ptr compressor,
                             jvirt_barray_ptr *arrays) {
    for (int ci = 0; ci < compressor->num_components; ci++)
        count_component_dc(stats, compressor, &compressor->comp_info[ci], arrays[ci]);
    if (stats->overflow)
        ERREXIT(compressor, JERR_BAD_DCT_COEF);
    int dc_done[NUM_HUFF_TBLS] = {0}, ac_done[NUM_HUFF_TBLS] = {0};
    for (int ci = 0; ci < compressor->num_components; ci++) {
        int dc = compressor->comp_info[ci].dc_tbl_no, ac = compressor->comp_info[ci].ac_tbl_no;
        if (!dc_done[dc]) {
            fill_table(compressor, &compressor->dc_huff_tbl_ptrs[dc], stats->dc[dc], 17);
            dc_done[dc] = 1;
        }
        if (!ac_done[ac]) {
            fill_table(compressor, &compressor->ac_huff_tbl_ptrs[ac], stats->ac[ac], 256);
            ac_done[ac] = 1;
        }
    }
}
