#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace flenn {

using QuantTable = std::array<std::uint16_t, 64>; // natural (row-major) order

// How a write re-expresses the coefficients: unchanged, on scaled tables or on explicit ones.
struct RequantSettings {
    int luma = 100;    // percent of the source table, or per mille of the standard one
    int chroma = 100;
    int tilt = 0;      // 0 to 200: extra coarsening at high frequencies, in percent
    int deadzone = 0;  // 0 to 45: rounding offset in hundredths of a step
    bool standard = false;
    std::optional<std::vector<QuantTable>> tables; // explicit luma and chroma tables
    double matchedLuma = 0;
    double matchedChroma = 0;
    double matchedCut = 0;
    bool matchedUniform = false;

    RequantSettings() = default;
    RequantSettings(int luma, std::optional<int> chroma, int tilt, int deadzone, bool standard);
    RequantSettings(const QuantTable &luma, const std::optional<QuantTable> &chroma, int deadzone);

    static RequantSettings standardTables(int perMille);
    static RequantSettings matched(double scale, std::optional<double> chroma = std::nullopt);
    static const RequantSettings lossless;

    bool isLossless() const;

    friend bool operator==(const RequantSettings &, const RequantSettings &) = default;
};

} // namespace flenn

template <> struct std::hash<flenn::RequantSettings> {
    std::size_t operator()(const flenn::RequantSettings &settings) const noexcept;
};
