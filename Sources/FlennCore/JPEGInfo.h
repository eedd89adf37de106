#pragma once

#include <cstdint>
#include <vector>

namespace flenn {

// What a JPEG's header and coefficients told when it was opened.
struct JPEGInfo {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t components = 0;
    bool isSimple = false; // 8-bit greyscale or YCbCr: the only kinds the pipeline rewrites
    bool isProgressive = false;
    bool isMultiPicture = false;
    bool isAlreadyOptimized = false;
    std::int64_t bytesConsumed = 0; // offset just past the primary image
    std::int64_t markerBytes = 0;
    std::vector<std::vector<std::uint16_t>> quantTables; // per component, natural order
};

} // namespace flenn
