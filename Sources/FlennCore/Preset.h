#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RequantSettings.h"

namespace flenn {

// How far a photo may go: the lowest quality score a lossy result may have, and what it must save.
struct Preset {
    std::string id;     // stable identifier, as the command line names it
    std::string name;   // display name
    std::string detail; // one line for the user
    double floor;       // lowest checker score of a lossy result; 100 or more: lossless only
    double minimumSaving; // fraction of the source a lossy result must save
    std::function<RequantSettings(int)> shape; // scale → writer settings for the lossy search
    bool matchesOstrel = false; // the reference-table mode replaces the lossy search

    Preset(std::string id, std::string name, std::string detail, double floor, double minimumSaving,
           std::function<RequantSettings(int)> shape = standardShape);

    // Scale s on the source's tables with the presets' dead zone.
    static RequantSettings standardShape(int scale);

    static const Preset &compact();
    static const Preset &balanced();
    static const Preset &highFidelity();
    static const Preset &lossless();
    static const std::vector<Preset> &all();
    static std::optional<Preset> named(std::string_view id);

    bool isLossless() const { return floor >= 100; }

    // The lowest score a result of this preset can carry: its floor, or the guard floor when the
    // reference-table mode stands in for the checker-scored search.
    double lowestFloor() const;

    friend bool operator==(const Preset &a, const Preset &b) { return a.id == b.id; }
};

} // namespace flenn

template <> struct std::hash<flenn::Preset> {
    std::size_t operator()(const flenn::Preset &preset) const noexcept {
        return std::hash<std::string>{}(preset.id);
    }
};
