#pragma once

#include <vector>

#include "LinearRows.h"
#include "ScaleSums.h"

namespace flenn::ssimulacra2 {

// The number-crunching part, compiled once per instruction set. Both give identical bits: the
// portable one reaches fused multiply-adds through fmaf, which is exact on every CPU but slow
// where the CPU has no FMA instruction.
enum class Kernel { portable, avx2 };

// The fastest kernel this CPU can run.
Kernel fastestKernel();
bool runs(Kernel kernel);

// The pooled error sums of every scale (finest first) for two images of the same size.
std::vector<ScaleSums> measureScales(Kernel kernel, LinearRows &reference, LinearRows &distorted);

// The variants behind measureScales, one per kernel translation unit.
namespace portable {
std::vector<ScaleSums> measureScales(LinearRows &reference, LinearRows &distorted);
}
namespace avx2 {
std::vector<ScaleSums> measureScales(LinearRows &reference, LinearRows &distorted);
}

} // namespace flenn::ssimulacra2
