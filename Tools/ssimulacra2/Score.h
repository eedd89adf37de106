#pragma once

#include <vector>

#include "ScaleSums.h"

namespace flenn::ssimulacra2 {

// The score from the sums of the scales computed (at most six, finest first): 100 for identical
// images, lower for larger differences, without a lower bound.
double scoreFromSums(const std::vector<ScaleSums> &scales);

} // namespace flenn::ssimulacra2
