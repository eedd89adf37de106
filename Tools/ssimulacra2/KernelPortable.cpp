// The kernel for any CPU: plain vector arithmetic, fused multiply-adds through fmaf.
#define FLENN_SIMD portable
#include "Kernel.h"
#include "Pyramid.h"

namespace flenn::ssimulacra2::portable {

std::vector<ScaleSums> measureScales(LinearRows &reference, LinearRows &distorted) {
    return measureScaleSums(reference, distorted);
}

} // namespace flenn::ssimulacra2::portable
