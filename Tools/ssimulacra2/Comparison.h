#pragma once

#include "ImageReader.h"
#include "Kernel.h"

namespace flenn::ssimulacra2 {

// The score of `distorted` against `reference` (two images of the same size, at least 8 x 8).
// When the reference has transparency, both images are flattened onto a dark and onto a light
// background and the lower score counts; otherwise an image with transparency is flattened onto
// middle grey. Throws ImageError for damaged pixel data.
double compare(ImageReader &reference, ImageReader &distorted, Kernel kernel = fastestKernel());

} // namespace flenn::ssimulacra2
