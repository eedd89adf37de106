#include "LinearRows.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace flenn::ssimulacra2 {

namespace {

// The sRGB decoding curve as a rational polynomial in Horner form; its error against the exact
// curve is about 1e-7, and scores depend on these exact float steps.
float srgbToLinear(float x) {
    if (!(x > 0.04045f))
        return x * (1.0f / 12.92f);
    constexpr float p[5] = {2.200248328e-04f, 1.043637593e-02f, 1.624820318e-01f, 7.961564959e-01f,
                            8.210152774e-01f};
    constexpr float q[5] = {2.631846970e-01f, 1.076976492e+00f, 4.987528350e-01f, -5.512498495e-02f,
                            6.521209011e-03f};
    float numerator = p[4], denominator = q[4];
    for (int i = 3; i >= 0; i--) {
        numerator = std::fmaf(numerator, x, p[i]);
        denominator = std::fmaf(denominator, x, q[i]);
    }
    return numerator / denominator;
}

} // namespace

LinearRows::LinearRows(ImageReader &reader, float background)
    : reader_(reader), info_(reader.info()), background_(background),
      scale_(1.0f / float(info_.maxValue)) {
    if (!info_.hasAlpha()) {
        table_.resize(info_.wide() ? 65536 : 256);
        for (std::size_t value = 0; value < table_.size(); value++)
            table_[value] = linear(float(value) * scale_);
    }
}

float LinearRows::linear(float encoded) const {
    if (info_.gamma)
        return float(std::pow(double(encoded), 1.0 / *info_.gamma));
    return srgbToLinear(encoded);
}

template <class Sample> void LinearRows::opaqueRow(const Sample *samples, float *rgb[3]) const {
    const float *table = table_.data();
    if (info_.channels == 1) {
        for (int x = 0; x < info_.width; x++)
            rgb[0][x] = rgb[1][x] = rgb[2][x] = table[samples[x]];
        return;
    }
    for (int x = 0; x < info_.width; x++, samples += 3) {
        rgb[0][x] = table[samples[0]];
        rgb[1][x] = table[samples[1]];
        rgb[2][x] = table[samples[2]];
    }
}

template <class Sample> void LinearRows::flattenedRow(const Sample *samples, float *rgb[3]) const {
    int colours = info_.channels - 1;
    for (int x = 0; x < info_.width; x++, samples += info_.channels) {
        float alpha = float(samples[colours]) * scale_;
        float behind = (1.0f - alpha) * background_;
        for (int c = 0; c < 3; c++) {
            float colour = float(samples[colours == 1 ? 0 : c]) * scale_;
            rgb[c][x] = linear(alpha * colour + behind);
        }
    }
}

void LinearRows::next(float *red, float *green, float *blue) {
    float *rgb[3] = {red, green, blue};
    const std::uint8_t *row = reader_.nextRow();
    if (info_.wide()) { // rows of 16-bit samples are aligned for them
        const auto *samples = reinterpret_cast<const std::uint16_t *>(row);
        info_.hasAlpha() ? flattenedRow(samples, rgb) : opaqueRow(samples, rgb);
    } else {
        info_.hasAlpha() ? flattenedRow(row, rgb) : opaqueRow(row, rgb);
    }
}

} // namespace flenn::ssimulacra2
