#pragma once

// The six scales of the comparison, streamed: rows of both images enter the finest scale top to
// bottom, and each scale hands 2 x 2 averages of its rows to the next coarser one. A scale keeps
// only the few rows its blur still needs, so memory grows with the width, not the area.
#include <algorithm>
#include <memory>
#include <vector>

#include "Blur.h"
#include "Buffer.h"
#include "ErrorMaps.h"
#include "LinearRows.h"
#include "ScaleSums.h"
#include "XYB.h"

namespace flenn::ssimulacra2::FLENN_SIMD {

// One scale, fed linear RGB rows of both images. Rows are processed in batches of `lanes`: the
// horizontal blur runs one row per vector lane; the vertical blur runs one column per lane and
// follows the rows with a delay of four (its input pairs reach four rows ahead). Both passes and
// the error maps go through the batch in strips of columns, so that what one step writes is
// still in cache when the next one reads it.
class Scale {
  public:
    Scale(int width, int height, Scale *coarser)
        : width_(width), height_(height), stride_((width + strip - 1) / strip * strip),
          coarser_(coarser), staging_(std::size_t(6) * lanes * stride_),
          xyb_(std::size_t(6) * xybRing * stride_),
          interleavedXYB_(std::size_t(6) * interleavedLength()),
          interleavedBlur_(std::size_t(strip) * lanes),
          blurred_(std::size_t(planes) * blurredRing * stride_),
          state_(std::size_t(planes) * 6 * stride_),
          columnOut_(std::size_t(planes) * maxSteps * strip), zeros_(strip), scratch_(strip),
          sums_(std::size_t(stride_ / strip) * 3) {}

    // The row to fill for image 0 (reference) or 1 (distorted), channel 0..2 (R, G, B).
    float *input(int image, int channel) { return staged(image, channel, filled_); }
    // Takes the filled rows of both images.
    void commit() {
        if (++filled_ == lanes || firstRow_ + filled_ == height_)
            processBatch();
    }

    ScaleSums sums() const {
        ScaleSums result;
        result.width = width_;
        result.height = height_;
        for (std::size_t i = 0; i < sums_.size(); i++) // strip by strip
            sums_[i].addTo(result.sum[i % 3], result.sum4[i % 3]);
        return result;
    }

  private:
    static constexpr int planes = 15;                 // five blurred planes per channel
    static constexpr int pad = recursive::radius + 5; // interleaved columns before column 0
    static constexpr int xybRing = lanes + 4;         // a batch and the four rows behind it
    static constexpr int blurredRing = lanes + 10;    // ... and the pairs' reach of six more
    static constexpr int maxSteps = lanes + 4;        // vertical steps run after one batch
    static constexpr int strip = 256;                 // columns per strip, a multiple of 4

    std::size_t interleavedLength() const { return std::size_t(width_ + pad + 4) * lanes; }
    float *staged(int image, int channel, int r) const {
        return staging_.data() + std::size_t((image * 3 + channel) * lanes + r) * stride_;
    }
    float *xybRow(int image, int channel, int row) const {
        return xyb_.data() + std::size_t((image * 3 + channel) * xybRing + row % xybRing) * stride_;
    }
    // Column 0 of an interleaved plane; columns -pad..-1 and width..width+3 stay zero.
    float *interleavedXYB(int plane) const {
        return interleavedXYB_.data() + plane * interleavedLength() + pad * lanes;
    }
    // Blurred rows are kept strip by strip: the part of a row in strip x0 / strip.
    float *blurredRow(int x0, int plane, int row) const {
        return blurred_.data() +
               std::size_t(((x0 / strip) * planes + plane) * blurredRing + row % blurredRing) *
                   strip;
    }
    float *columnOut(int plane, int j) const {
        return columnOut_.data() + std::size_t(plane * maxSteps + j) * strip;
    }

    void processBatch() {
        int count = filled_;
        if (coarser_)
            halve(count);
        toXYB(count);
        const float *rows[lanes];
        for (int plane = 0; plane < 6; plane++) {
            for (int r = 0; r < lanes; r++) // lanes past the last row repeat it
                rows[r] = xybRow(plane / 3, plane % 3, firstRow_ + std::min(r, count - 1));
            interleave(rows, width_, interleavedXYB(plane));
        }
        // Vertical step i pairs row i - 6 with row i + 4, so it can run once row i + 4 is in;
        // after the last row every remaining step runs.
        int last = firstRow_ + count - 1;
        int end = last == height_ - 1 ? height_ : last - recursive::radius + 2;
        RowRecursion recursions[planes];
        for (int x0 = 0; x0 < width_; x0 += strip) {
            int x1 = std::min(x0 + strip, width_);
            for (int plane = 0; plane < planes; plane++) {
                blurStrip(plane, count, x0, x1, recursions[plane]);
                verticalSteps(plane, x0, x1, end);
            }
            addStripErrors(x0, x1, end);
        }
        nextStep_ = end;
        firstRow_ += count;
        filled_ = 0;
    }

    // 2 x 2 averages for the next scale; an odd last row or column pairs with itself.
    void halve(int count) {
        int coarseWidth = (width_ + 1) / 2;
        for (int r = 0; r < count; r += 2) {
            int below = std::min(r + 1, count - 1);
            for (int image = 0; image < 2; image++)
                for (int c = 0; c < 3; c++) {
                    const float *p0 = staged(image, c, r), *p1 = staged(image, c, below);
                    float *out = coarser_->input(image, c);
                    for (int x = 0; x < coarseWidth; x++) {
                        int left = 2 * x, right = std::min(2 * x + 1, width_ - 1);
                        out[x] = (((0.0f + p0[left]) + p0[right]) + p1[left]) + p1[right];
                        out[x] *= 0.25f;
                    }
                }
            coarser_->commit();
        }
    }

    void toXYB(int count) {
        for (int r = 0; r < count; r++)
            for (int image = 0; image < 2; image++) {
                const float *red = staged(image, 0, r), *green = staged(image, 1, r),
                            *blue = staged(image, 2, r);
                float *x = xybRow(image, 0, firstRow_ + r), *y = xybRow(image, 1, firstRow_ + r),
                      *b = xybRow(image, 2, firstRow_ + r);
                for (int i = 0; i < width_; i += lanes) {
                    XYB v = positiveXYB(load(red + i), load(green + i), load(blue + i));
                    store(x + i, v.x);
                    store(y + i, v.y);
                    store(b + i, v.b);
                }
            }
    }

    // The horizontal pass of one plane (channel plane / 5; image, image squared, or product by
    // plane % 5) over the columns [x0, x1) of the batch's rows, into the blurred rows.
    void blurStrip(int plane, int count, int x0, int x1, RowRecursion &recursion) {
        const float *one = interleavedXYB(plane / 5), *two = interleavedXYB(3 + plane / 5);
        int from = x0 == 0 ? 1 - recursive::radius : x0;
        auto blur = [&](auto source) {
            blurAlongRows(width_, from, x1, source, recursion, interleavedBlur_.data());
        };
        switch (plane % 5) {
        case 0:
            blur([one](int i) { return load(one + i * lanes); });
            break;
        case 1:
            blur([two](int i) { return load(two + i * lanes); });
            break;
        case 2:
            blur([one](int i) {
                V v = load(one + i * lanes);
                return v * v;
            });
            break;
        case 3:
            blur([two](int i) {
                V v = load(two + i * lanes);
                return v * v;
            });
            break;
        case 4:
            blur([one, two](int i) { return load(one + i * lanes) * load(two + i * lanes); });
        }
        float *rows[lanes];
        for (int r = 0; r < lanes; r++)
            rows[r] = r < count ? blurredRow(x0, plane, firstRow_ + r) : scratch_.data();
        deinterleave(interleavedBlur_.data(), x1 - x0, rows);
    }

    // The vertical steps from nextStep_ up to `end` of one plane over the strip [x0, x1).
    void verticalSteps(int plane, int x0, int x1, int end) {
        const float *above[maxSteps], *below[maxSteps];
        float *out[maxSteps];
        for (int i = nextStep_; i < end; i++) {
            int j = i - nextStep_, top = i - recursive::radius - 1,
                bottom = i + recursive::radius - 1;
            above[j] = top >= 0 ? blurredRow(x0, plane, top) : zeros_.data();
            below[j] = bottom < height_ ? blurredRow(x0, plane, bottom) : zeros_.data();
            out[j] = i >= 0 ? columnOut(plane, i - std::max(nextStep_, 0)) : nullptr;
        }
        int count = (x1 - x0 + lanes - 1) / lanes * lanes;
        blurAlongColumns(end - nextStep_, above, below, state_.data() + plane * 6 * stride_ + x0,
                         stride_, count, out);
    }

    // Pools the error maps of the rows the vertical steps completed, over the strip [x0, x1).
    void addStripErrors(int x0, int x1, int end) {
        for (int i = std::max(nextStep_, 0); i < end; i++)
            for (int c = 0; c < 3; c++) {
                int j = i - std::max(nextStep_, 0);
                ChannelRow row{xybRow(0, c, i) + x0,    xybRow(1, c, i) + x0,
                               columnOut(5 * c + 0, j), columnOut(5 * c + 1, j),
                               columnOut(5 * c + 2, j), columnOut(5 * c + 3, j),
                               columnOut(5 * c + 4, j)};
                addErrors(row, x1 - x0, sums_[x0 / strip * 3 + c]);
            }
    }

    int width_, height_, stride_;
    Scale *coarser_;
    int firstRow_ = 0;                     // image row of staged row 0
    int filled_ = 0;                       // staged rows filled
    int nextStep_ = 1 - recursive::radius; // the vertical recursion starts four rows above
    Buffer staging_, xyb_, interleavedXYB_, interleavedBlur_, blurred_, state_, columnOut_, zeros_,
        scratch_;
    std::vector<MapSums> sums_; // per strip and channel
};

// Scales exist while the previous one is at least 8 x 8; at most six.
inline std::vector<ScaleSums> measureScaleSums(LinearRows &reference, LinearRows &distorted) {
    std::vector<std::pair<int, int>> sizes{{reference.width(), reference.height()}};
    while (sizes.size() < 6 && sizes.back().first >= 8 && sizes.back().second >= 8)
        sizes.emplace_back((sizes.back().first + 1) / 2, (sizes.back().second + 1) / 2);
    std::vector<std::unique_ptr<Scale>> scales(sizes.size());
    for (std::size_t s = sizes.size(); s-- > 0;)
        scales[s] = std::make_unique<Scale>(sizes[s].first, sizes[s].second,
                                            s + 1 < sizes.size() ? scales[s + 1].get() : nullptr);

    Scale &finest = *scales[0];
    for (int y = 0; y < reference.height(); y++) {
        reference.next(finest.input(0, 0), finest.input(0, 1), finest.input(0, 2));
        distorted.next(finest.input(1, 0), finest.input(1, 1), finest.input(1, 2));
        finest.commit();
    }
    std::vector<ScaleSums> result;
    for (const auto &scale : scales)
        result.push_back(scale->sums());
    return result;
}

} // namespace flenn::ssimulacra2::FLENN_SIMD
