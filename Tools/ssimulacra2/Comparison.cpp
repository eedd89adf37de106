#include "Comparison.h"

#include <algorithm>

#include "LinearRows.h"
#include "Score.h"

namespace flenn::ssimulacra2 {

namespace {

double scoreOn(float background, ImageReader &reference, ImageReader &distorted, Kernel kernel) {
    reference.rewind();
    distorted.rewind();
    LinearRows one(reference, background), two(distorted, background);
    return scoreFromSums(measureScales(kernel, one, two));
}

} // namespace

double compare(ImageReader &reference, ImageReader &distorted, Kernel kernel) {
    if (!reference.info().hasAlpha())
        return scoreOn(0.5f, reference, distorted, kernel);
    return std::min(scoreOn(0.1f, reference, distorted, kernel),
                    scoreOn(0.9f, reference, distorted, kernel));
}

} // namespace flenn::ssimulacra2
