#pragma once

#include <optional>
#include <vector>

struct flenn_measurements;

namespace flenn {

// Predicts the size of a matched write at any scale from the histograms that measurement kept,
// so a scale can be chosen for a target size without writing candidates. Owns the engine's
// measurement record and releases it when destroyed; shared by reference, never copied.
class MatchedEstimator {
  public:
    explicit MatchedEstimator(flenn_measurements *adopted);
    ~MatchedEstimator();
    MatchedEstimator(const MatchedEstimator &) = delete;
    MatchedEstimator &operator=(const MatchedEstimator &) = delete;

    // Estimated entropy-coded bits at a scale; an absent chroma scale means the luma scale.
    double bits(double scale, std::optional<double> chroma = std::nullopt) const;
    // The five parts of that estimate: magnitude bits, non-zero coefficients, blocks, DC bits
    // and entropy bits.
    std::vector<double> parts(double scale, std::optional<double> chroma = std::nullopt) const;
    // The scale in [low, high] whose estimate meets the target: low when the target is at least
    // the estimate at low, high when it is at most the estimate at high.
    double scale(double forBits, double low, double high) const;

    const flenn_measurements *record() const { return record_; }

  private:
    flenn_measurements *record_;
};

} // namespace flenn
