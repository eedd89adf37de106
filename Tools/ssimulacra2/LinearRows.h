#pragma once

#include <vector>

#include "ImageReader.h"

namespace flenn::ssimulacra2 {

// The rows of an image, top to bottom, in linear-light RGB (float), with transparency flattened
// onto a grey background first. Every value is computed in the float steps the metric
// prescribes, so the table lookups and the direct path give identical bits.
class LinearRows {
  public:
    LinearRows(ImageReader &reader, float background);

    int width() const { return info_.width; }
    int height() const { return info_.height; }
    // The next row; throws ImageError for damaged pixel data.
    void next(float *red, float *green, float *blue);

  private:
    float linear(float encoded) const;
    template <class Sample> void opaqueRow(const Sample *samples, float *rgb[3]) const;
    template <class Sample> void flattenedRow(const Sample *samples, float *rgb[3]) const;

    ImageReader &reader_;
    const ImageInfo &info_;
    float background_;
    float scale_;              // 1 / maxValue, as a float
    std::vector<float> table_; // linear value of every sample value (images without alpha)
};

} // namespace flenn::ssimulacra2
