#include "Kernel.h"

#include <stdexcept>

namespace flenn::ssimulacra2 {

bool runs(Kernel kernel) {
    switch (kernel) {
    case Kernel::portable:
        return true;
    case Kernel::avx2:
#if FLENN_HAS_AVX2_KERNEL
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
        return false;
#endif
    }
    return false;
}

Kernel fastestKernel() {
    return runs(Kernel::avx2) ? Kernel::avx2 : Kernel::portable;
}

std::vector<ScaleSums> measureScales(Kernel kernel, LinearRows &reference, LinearRows &distorted) {
    if (!runs(kernel))
        throw std::logic_error("this CPU cannot run the chosen kernel");
#if FLENN_HAS_AVX2_KERNEL
    if (kernel == Kernel::avx2)
        return avx2::measureScales(reference, distorted);
#endif
    return portable::measureScales(reference, distorted);
}

} // namespace flenn::ssimulacra2
