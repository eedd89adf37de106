#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Bytes.h"
#include "JPEGInfo.h"
#include "Measurements.h"
#include "RequantSettings.h"
#include "TileSample.h"

struct flenn_session;

namespace flenn {

// One JPEG held as its quantized DCT coefficients. Owns its engine session; never copied.
class JPEGSession {
  public:
    enum class Markers { all, colorProfileOnly };

    // Raised by write when the photo holds too few whole MCUs for the requested sample.
    struct SampleTooSmall : std::exception {
        const char *what() const noexcept override { return "The image is too small to sample"; }
    };

    struct Comparison {
        double lumaAC = 0;
        double lumaACDiffering = 0;
        double lumaACNonzeroOther = 0;
        double chromaDiffering = 0;
        double dcDiffering = 0;
        double lumaACNonzero = 0;
    };

    // The comment that marks the system's own lossy output.
    static constexpr std::string_view signature = "Flenned";

    explicit JPEGSession(const Bytes &data);
    ~JPEGSession();
    JPEGSession(const JPEGSession &) = delete;
    JPEGSession &operator=(const JPEGSession &) = delete;

    const JPEGInfo &info() const { return info_; }

    Bytes write(const RequantSettings &settings, Markers markers = Markers::all,
                const std::optional<TileSample> &sample = std::nullopt);
    std::optional<Comparison> compare(JPEGSession &other);

    // The features and size curves of the photo, without writing anything.
    Measurements measure();

    // The matched table for a source table at a scale, following the standard luma or chroma
    // table; and the cut level of a scale.
    static QuantTable matchedTable(const QuantTable &source, bool chroma, double scale);
    static double matchedCut(double scale);

    // The text of an engine message buffer, or the fallback when it is empty.
    static std::string message(std::span<const char> buffer, std::string_view fallback);

  private:
    flenn_session *handle_ = nullptr;
    JPEGInfo info_;
};

} // namespace flenn
