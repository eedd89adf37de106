/* Counting how two sessions of one geometry differ, coefficient by coefficient. */
#include <string.h>

#include "internal.h"

static int comparable(const flenn_session *a, const flenn_session *b) {
    const struct jpeg_decompress_struct *x = &a->decompressor, *y = &b->decompressor;
    if (x->num_components != y->num_components)
        return 0;
    for (int ci = 0; ci < x->num_components; ci++)
        if (x->comp_info[ci].width_in_blocks != y->comp_info[ci].width_in_blocks ||
            x->comp_info[ci].height_in_blocks != y->comp_info[ci].height_in_blocks)
            return 0;
    return 1;
}

static JBLOCKROW row_of(flenn_session *session, int ci, JDIMENSION row) {
    struct jpeg_decompress_struct *d = &session->decompressor;
    return (*d->mem->access_virt_barray)((j_common_ptr)d, session->coefficients[ci], row, 1,
                                         FALSE)[0];
}

static void compare_steps(flenn_session *a, flenn_session *b, flenn_comparison *result) {
    for (int ci = 0; ci < a->decompressor.num_components; ci++) {
        const jpeg_component_info *component = &a->decompressor.comp_info[ci];
        for (JDIMENSION row = 0; row < component->height_in_blocks; row++) {
            JBLOCKROW mine = row_of(a, ci, row), theirs = row_of(b, ci, row);
            for (JDIMENSION col = 0; col < component->width_in_blocks; col++) {
                const JCOEF *x = mine[col], *y = theirs[col];
                if (x[0] != y[0])
                    result->dc_differing += 1;
                int differing = 0, nonzero = 0, nonzero_other = 0;
                for (int k = 1; k < 64; k++) {
                    differing += x[k] != y[k];
                    nonzero += x[k] != 0;
                    nonzero_other += y[k] != 0;
                }
                if (ci == 0) {
                    result->luma_ac += 63;
                    result->luma_ac_differing += differing;
                    result->luma_ac_nonzero += nonzero;
                    result->luma_ac_nonzero_other += nonzero_other;
                } else {
                    result->chroma_differing += differing;
                }
            }
        }
    }
}

int flenn_session_compare(flenn_session *session, flenn_session *other, flenn_comparison *result) {
    memset(result, 0, sizeof *result);
    if (!comparable(session, other))
        return 1;
    jmp_buf jump;
    if (setjmp(jump)) {
        session->errors.jump = NULL;
        other->errors.jump = NULL;
        return 1;
    }
    session->errors.jump = &jump;
    other->errors.jump = &jump;
    compare_steps(session, other, result);
    session->errors.jump = NULL;
    other->errors.jump = NULL;
    return 0;
}
