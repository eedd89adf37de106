#include "RequantSettings.h"

#include <algorithm>
#include <functional>

namespace flenn {

RequantSettings::RequantSettings(int luma, std::optional<int> chroma, int tilt, int deadzone,
                                 bool standard)
    : luma(luma), chroma(chroma.value_or(luma)), tilt(tilt), deadzone(deadzone),
      standard(standard) {}

RequantSettings::RequantSettings(const QuantTable &luma, const std::optional<QuantTable> &chroma,
                                 int deadzone)
    : deadzone(deadzone), tables(std::vector<QuantTable>{luma, chroma.value_or(luma)}) {}

RequantSettings RequantSettings::standardTables(int perMille) {
    int scale = std::clamp(perMille, 10, 9000);
    return RequantSettings(scale, scale, 0, 15, true);
}

// std::clamp would turn a NaN into a bound; NaN must reach the engine, which refuses it.
static double clampKeepingNaN(double value, double low, double high) {
    if (value < low)
        return low;
    if (value > high)
        return high;
    return value;
}

RequantSettings RequantSettings::matched(double scale, std::optional<double> chroma) {
    RequantSettings settings;
    settings.matchedLuma = clampKeepingNaN(scale, 0.002, 8);
    settings.matchedChroma = clampKeepingNaN(chroma.value_or(0), 0, 8);
    return settings;
}

const RequantSettings RequantSettings::lossless{};

bool RequantSettings::isLossless() const {
    return matchedLuma <= 0 && !tables && !standard && luma == 100 && chroma == 100 &&
           deadzone == 0;
}

} // namespace flenn

std::size_t std::hash<flenn::RequantSettings>::operator()(
    const flenn::RequantSettings &s) const noexcept {
    std::size_t seed = 0;
    auto mix = [&seed](std::size_t value) {
        seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    };
    for (int field : {s.luma, s.chroma, s.tilt, s.deadzone, int(s.standard), int(s.matchedUniform)})
        mix(std::hash<int>{}(field));
    for (double field : {s.matchedLuma, s.matchedChroma, s.matchedCut})
        mix(std::hash<double>{}(field));
    if (s.tables)
        for (const auto &table : *s.tables)
            for (std::uint16_t value : table)
                mix(value);
    return seed;
}
