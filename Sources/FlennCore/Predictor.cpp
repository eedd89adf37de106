#include "Predictor.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>

#include <nlohmann/json.hpp>

#include "EmbeddedModel.h"

namespace flenn::Predictor {

namespace {

using nlohmann::json;

// Thrown while decoding when the text is not a model; never leaves this file.
struct Malformed {};

const json &member(const json &object, const char *key) {
    if (!object.is_object())
        throw Malformed();
    auto found = object.find(key);
    if (found == object.end())
        throw Malformed();
    return *found;
}

double number(const json &value) {
    if (!value.is_number())
        throw Malformed();
    return value.get<double>();
}

std::int64_t wideInteger(const json &value) {
    if (value.is_number_unsigned()) {
        if (value.get<std::uint64_t>() > std::uint64_t(INT64_MAX))
            throw Malformed();
        return std::int64_t(value.get<std::uint64_t>());
    }
    if (!value.is_number_integer())
        throw Malformed();
    return value.get<std::int64_t>();
}

// Tree indices: one beyond the int range is outside any list, and the tree is refused.
int integer(const json &value) {
    std::int64_t wide = wideInteger(value);
    if (wide < INT_MIN || wide > INT_MAX)
        throw Malformed();
    return int(wide);
}

template <typename T, typename Read> std::vector<T> list(const json &value, Read read) {
    if (!value.is_array())
        throw Malformed();
    std::vector<T> items;
    items.reserve(value.size());
    for (const json &item : value)
        items.push_back(read(item));
    return items;
}

// Every inner node's children come after it and within the lists, and its feature is an input:
// a walk from the root then always ends at a leaf.
void checkWalkable(const Tree &tree, std::size_t featureCount) {
    std::size_t nodes = tree.left.size();
    if (nodes == 0 || tree.right.size() != nodes || tree.feature.size() != nodes ||
        tree.threshold.size() != nodes || tree.value.size() != nodes)
        throw Malformed();
    for (std::size_t node = 0; node < nodes; node++) {
        if (tree.left[node] < 0)
            continue;
        auto child = [&](int index) {
            return std::size_t(index) > node && std::size_t(index) < nodes;
        };
        if (!child(tree.left[node]) || tree.right[node] < 0 || !child(tree.right[node]) ||
            tree.feature[node] < 0 || std::size_t(tree.feature[node]) >= featureCount)
            throw Malformed();
    }
}

Tree decodeTree(const json &value, std::size_t featureCount) {
    Tree tree;
    tree.left = list<int>(member(value, "left"), integer);
    tree.right = list<int>(member(value, "right"), integer);
    tree.feature = list<int>(member(value, "feature"), integer);
    tree.threshold = list<double>(member(value, "threshold"), number);
    tree.value = list<double>(member(value, "value"), number);
    checkWalkable(tree, featureCount);
    return tree;
}

Ensemble decodeEnsemble(const json &value, std::size_t featureCount) {
    Ensemble ensemble;
    ensemble.initial = number(member(value, "initial"));
    ensemble.rate = number(member(value, "rate"));
    ensemble.trees = list<Tree>(member(value, "trees"),
                                [&](const json &tree) { return decodeTree(tree, featureCount); });
    return ensemble;
}

std::string string(const json &value) {
    if (!value.is_string())
        throw Malformed();
    return value.get<std::string>();
}

// The comparison sees the input as the model was trained on it: in single precision. A value
// beyond the float range becomes an infinity, as the rounding would make it.
double singlePrecision(double value) {
    constexpr double overflow = 0x1.ffffffp127; // halfway between the largest float and 2^128
    if (std::abs(value) >= overflow)
        return std::copysign(std::numeric_limits<double>::infinity(), value);
    return static_cast<float>(value);
}

} // namespace

double Tree::output(const std::vector<double> &input) const {
    std::size_t node = 0;
    while (left[node] >= 0) {
        double x = singlePrecision(input[std::size_t(feature[node])]);
        node = std::size_t(threshold[node] >= x ? left[node] : right[node]);
    }
    return value[node];
}

double Ensemble::value(const std::vector<double> &input) const {
    double sum = initial;
    for (const Tree &tree : trees)
        sum += rate * tree.output(input);
    return sum;
}

std::optional<Model> Model::decoded(std::string_view text) {
    try {
        json root = json::parse(text);
        Model model;
        model.features = list<std::string>(member(root, "features"), string);
        std::size_t count = model.features.size();
        model.referenceGridIndex = wideInteger(member(root, "referenceGridIndex"));
        model.bias = number(member(root, "bias"));
        model.guardFloor = number(member(root, "guardFloor"));
        model.beyond = decodeEnsemble(member(root, "beyond"), count);
        model.beyondThreshold = number(member(root, "beyondThreshold"));
        model.floorSize = decodeEnsemble(member(root, "floorSize"), count);
        model.beyondSize = decodeEnsemble(member(root, "beyondSize"), count);
        return model;
    } catch (const json::exception &) {
        return std::nullopt; // not JSON: the model stays absent, as documented
    } catch (const Malformed &) {
        return std::nullopt; // JSON, but not a model
    }
}

std::optional<Prediction> Model::prediction(const Measurements &measurements) const {
    if (referenceGridIndex < 0 ||
        std::uint64_t(referenceGridIndex) >= measurements.estimatedBits.size())
        return std::nullopt;
    std::vector<double> input;
    input.reserve(features.size());
    for (const std::string &name : features) {
        auto found = measurements.features.find(name);
        if (found == measurements.features.end() || !std::isfinite(found->second))
            return std::nullopt;
        input.push_back(found->second);
    }
    double beyondScore = beyond.value(input);
    bool pushedBeyond = beyondScore > beyondThreshold;
    double size = (pushedBeyond ? beyondSize : floorSize).value(input);
    double bits =
        measurements.estimatedBits[std::size_t(referenceGridIndex)] * std::exp(size + bias);
    if (!(bits > 0) || !std::isfinite(bits))
        return std::nullopt;
    return Prediction{bits, beyondScore, pushedBeyond};
}

const std::optional<Model> &model() {
    static const std::optional<Model> parsed = Model::decoded(embeddedModelText());
    return parsed;
}

std::optional<Prediction> prediction(const Measurements &measurements) {
    if (!model())
        return std::nullopt;
    return model()->prediction(measurements);
}

std::optional<double> targetBits(const Measurements &measurements) {
    if (auto predicted = prediction(measurements))
        return predicted->bits;
    return std::nullopt;
}

double guardFloor() {
    return model() ? model()->guardFloor : 72.0;
}

} // namespace flenn::Predictor
