#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Measurements.h"

// Predicts from a photo's measured features how many entropy-coded bits its matched rewrite
// should have: three boosted ensembles of small regression trees, parsed once from a JSON text
// compiled into the program.
namespace flenn::Predictor {

// Parallel lists, one entry per node, node 0 the root; a node whose `left` is negative is a leaf.
struct Tree {
    std::vector<int> left;
    std::vector<int> right;
    std::vector<int> feature; // index into the input vector
    std::vector<double> threshold;
    std::vector<double> value;

    double output(const std::vector<double> &input) const;
};

struct Ensemble {
    double initial = 0;
    double rate = 0;
    std::vector<Tree> trees;

    double value(const std::vector<double> &input) const;
};

struct Prediction {
    double bits = 0; // entropy-coded bits of the rewrite, markers excluded
    double beyondScore = 0;
    bool pushedBeyond = false;
};

struct Model {
    std::vector<std::string> features;   // names of the inputs, in input order
    std::int64_t referenceGridIndex = 0; // the engine's size estimate that the prediction scales
    double bias = 0;
    double guardFloor = 0;
    Ensemble beyond;
    double beyondThreshold = 0;
    Ensemble floorSize;
    Ensemble beyondSize;

    std::optional<Prediction> prediction(const Measurements &measurements) const;

    // Decodes a model file. Absent when the text is not a model: a missing key, a wrong type, a
    // fractional number where an integer belongs, an empty tree, or a child or feature index
    // that would lead a walk outside its lists or back up the tree.
    static std::optional<Model> decoded(std::string_view text);
};

// The embedded model, decoded on first use; absent when it does not decode.
const std::optional<Model> &model();

std::optional<Prediction> prediction(const Measurements &measurements);
std::optional<double> targetBits(const Measurements &measurements);

// The lowest sample score the reference-table mode accepts: the model's, or 72 without one.
double guardFloor();

} // namespace flenn::Predictor
