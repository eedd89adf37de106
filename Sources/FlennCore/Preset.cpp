#include "Preset.h"

#include "Predictor.h"

namespace flenn {

Preset::Preset(std::string id, std::string name, std::string detail, double floor,
               double minimumSaving, std::function<RequantSettings(int)> shape)
    : id(std::move(id)), name(std::move(name)), detail(std::move(detail)), floor(floor),
      minimumSaving(minimumSaving), shape(std::move(shape)) {}

RequantSettings Preset::standardShape(int scale) { return RequantSettings(scale, scale, 0, 15, false); }

const Preset &Preset::compact() { return all()[0]; }
const Preset &Preset::balanced() { return all()[1]; }
const Preset &Preset::highFidelity() { return all()[2]; }
const Preset &Preset::lossless() { return all()[3]; }

const std::vector<Preset> &Preset::all() {
    static const std::vector<Preset> presets = [] {
        Preset compact("compact", "Compact", "About half the size, with no visible change", 81, 0.03);
        compact.matchesOstrel = true;
        return std::vector<Preset>{
            compact,
            Preset("balanced", "Balanced", "About a quarter smaller, with a wider safety margin", 87, 0.03),
            Preset("high", "High Fidelity", "Very close to the original, usually a few percent smaller", 90,
                   0.03),
            Preset("lossless", "Lossless", "No pixels changed, a few percent smaller at most", 100, 0.03),
        };
    }();
    return presets;
}

std::optional<Preset> Preset::named(std::string_view id) {
    for (const Preset &preset : all())
        if (preset.id == id)
            return preset;
    return std::nullopt;
}

double Preset::lowestFloor() const { return matchesOstrel ? Predictor::guardFloor() : floor; }

} // namespace flenn
