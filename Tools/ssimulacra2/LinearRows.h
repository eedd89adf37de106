#pragma once

#include <vector>

#include "Image.h"

namespace flenn::ssimulacra2 {

// Rows of an image in linear-light RGB (float), with transparency flattened onto a grey
// background first. Every value is computed in the float steps the metric prescribes, so the
// table lookups and the direct path give identical bits.
class LinearRows {
  public:
    LinearRows(const Image &image, float background);

    int width() const { return image_.width; }
    int height() const { return image_.height; }
    void row(int y, float *red, float *green, float *blue) const;

  private:
    float linear(float encoded) const;
    template <class Sample> void opaqueRow(const Sample *samples, float *rgb[3]) const;
    template <class Sample> void flattenedRow(const Sample *samples, float *rgb[3]) const;

    const Image &image_;
    float background_;
    float scale_;              // 1 / maxValue, as a float
    std::vector<float> table_; // linear value of every sample value (images without alpha)
};

} // namespace flenn::ssimulacra2
