// The kernel for x86-64 CPUs with AVX2 and FMA, chosen at run time.
//
// Every header this file uses is included before the target pragma, so the code of the standard
// library and of shared headers stays baseline x86-64 and cannot stand in for the baseline copy
// elsewhere in the program; only the kernel's own functions below are compiled for AVX2. Types
// with vector members therefore stay out of standard containers: the baseline container code
// may allocate them with less alignment than the kernel's aligned loads assume.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <immintrin.h>

#include "Buffer.h"
#include "Kernel.h"
#include "LinearRows.h"
#include "ScaleSums.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#else
#pragma GCC target("avx2,fma")
#endif

#define FLENN_SIMD avx2
#define FLENN_SIMD_AVX2 1
#include "Pyramid.h"

namespace flenn::ssimulacra2::avx2 {

std::vector<ScaleSums> measureScales(LinearRows &reference, LinearRows &distorted) {
    return measureScaleSums(reference, distorted);
}

} // namespace flenn::ssimulacra2::avx2

#if defined(__clang__)
#pragma clang attribute pop
#endif
