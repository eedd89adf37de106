#include "Comparison.h"

#include <algorithm>

#include "LinearRows.h"
#include "Score.h"

namespace flenn::ssimulacra2 {

namespace {

double scoreOn(float background, const Image &reference, const Image &distorted, Kernel kernel) {
    LinearRows one(reference, background), two(distorted, background);
    return scoreFromSums(measureScales(kernel, one, two));
}

} // namespace

double compare(const Image &reference, const Image &distorted, Kernel kernel) {
    if (!reference.hasAlpha())
        return scoreOn(0.5f, reference, distorted, kernel);
    return std::min(scoreOn(0.1f, reference, distorted, kernel),
                    scoreOn(0.9f, reference, distorted, kernel));
}

} // namespace flenn::ssimulacra2
