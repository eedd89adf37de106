#include "CoefficientJPEG.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace flenn::fixtures {

namespace {

JDIMENSION roundUp(JDIMENSION value, int multiple) {
    return (value + JDIMENSION(multiple) - 1) / JDIMENSION(multiple) * JDIMENSION(multiple);
}

} // namespace

Bytes coefficientJPEG(int width, int height, const std::vector<CoefficientComponent> &components) {
    jpeg_compress_struct c{};
    jpeg_error_mgr errors{};
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);

    int count = int(components.size());
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = count;
    c.in_color_space = count == 1 ? JCS_GRAYSCALE : JCS_YCbCr;
    jpeg_set_defaults(&c);
    c.optimize_coding = TRUE;
    // A lone component is one block per MCU whatever it declares.
    auto hOf = [&](int i) { return count == 1 ? 1 : components[std::size_t(i)].hSampling; };
    auto vOf = [&](int i) { return count == 1 ? 1 : components[std::size_t(i)].vSampling; };
    int maxH = 1, maxV = 1;
    for (int i = 0; i < count; i++) {
        c.comp_info[i].h_samp_factor = hOf(i);
        c.comp_info[i].v_samp_factor = vOf(i);
        c.comp_info[i].quant_tbl_no = components[std::size_t(i)].tableSlot;
        maxH = std::max(maxH, hOf(i));
        maxV = std::max(maxV, vOf(i));
    }
    for (int i = count - 1; i >= 0; i--) { // the first component using a slot decides its table
        unsigned int table[64];
        const CoefficientComponent &component = components[std::size_t(i)];
        std::copy(component.table.begin(), component.table.end(), table);
        jpeg_add_quant_table(&c, component.tableSlot, table, 100, FALSE);
    }

    std::vector<jvirt_barray_ptr> arrays(components.size());
    std::vector<JDIMENSION> across(components.size()), down(components.size());
    for (int i = 0; i < count; i++) {
        int h = hOf(i), v = vOf(i);
        across[std::size_t(i)] = (JDIMENSION(width) * h + 8 * maxH - 1) / (8 * maxH);
        down[std::size_t(i)] = (JDIMENSION(height) * v + 8 * maxV - 1) / (8 * maxV);
        arrays[std::size_t(i)] = (*c.mem->request_virt_barray)(
            reinterpret_cast<j_common_ptr>(&c), JPOOL_IMAGE, TRUE,
            roundUp(across[std::size_t(i)], h), roundUp(down[std::size_t(i)], v), JDIMENSION(v));
    }
    jpeg_write_coefficients(&c, arrays.data());
    for (int i = 0; i < count; i++) {
        const CoefficientComponent &component = components[std::size_t(i)];
        JDIMENSION rows = roundUp(down[std::size_t(i)], vOf(i));
        for (JDIMENSION r = 0; r < rows; r++) {
            JBLOCKROW row = (*c.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&c),
                                                         arrays[std::size_t(i)], r, 1, TRUE)[0];
            std::fill_n(&row[0][0], std::size_t(roundUp(across[std::size_t(i)], hOf(i))) * 64,
                        JCOEF(0));
            if (!component.fill || r >= down[std::size_t(i)])
                continue;
            for (JDIMENSION b = 0; b < across[std::size_t(i)]; b++)
                component.fill(int(r), int(b), row[b]);
        }
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes result = Bytes::copying(buffer, size);
    std::free(buffer);
    return result;
}

std::vector<std::vector<std::array<JCOEF, 64>>> readCoefficients(const Bytes &jpeg, int component) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr errors{};
    d.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d, TRUE);
    jvirt_barray_ptr *arrays = jpeg_read_coefficients(&d);
    const jpeg_component_info &info = d.comp_info[component];
    std::vector<std::vector<std::array<JCOEF, 64>>> blocks(info.height_in_blocks);
    for (JDIMENSION r = 0; r < info.height_in_blocks; r++) {
        JBLOCKROW row = (*d.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&d),
                                                     arrays[component], r, 1, FALSE)[0];
        for (JDIMENSION b = 0; b < info.width_in_blocks; b++) {
            std::array<JCOEF, 64> block;
            std::copy(row[b], row[b] + 64, block.begin());
            blocks[r].push_back(block);
        }
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return blocks;
}

} // namespace flenn::fixtures
