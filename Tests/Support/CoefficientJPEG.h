#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include <cstdio>

#include <jpeglib.h>

#include "Bytes.h"

// JPEGs written straight from chosen quantized coefficients, so a test controls exactly what
// measurement and the writer see, block by block.
namespace flenn::fixtures {

struct CoefficientComponent {
    int hSampling = 1;
    int vSampling = 1;
    int tableSlot = 0;
    std::array<std::uint16_t, 64> table{}; // natural order; the slot's table (first user wins)
    // Fills block (row, column) of the component, 64 coefficients in natural order; the block
    // arrives zeroed. Absent: every block stays zero.
    std::function<void(int row, int column, JCOEF *block)> fill;
};

// One component: greyscale; three: YCbCr. Baseline, optimized Huffman tables.
Bytes coefficientJPEG(int width, int height, const std::vector<CoefficientComponent> &components);

// The coefficients of component `component` of a JPEG, block rows of blocks, natural order.
std::vector<std::vector<std::array<JCOEF, 64>>> readCoefficients(const Bytes &jpeg, int component);

} // namespace flenn::fixtures
