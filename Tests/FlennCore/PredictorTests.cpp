#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Predictor.h"
#include "Preset.h"

namespace flenn {
namespace {

using nlohmann::json;
using Predictor::Model;

json leaf(double value) {
    return {{"left", {-1}},
            {"right", {-1}},
            {"feature", {-2}},
            {"threshold", {-2.0}},
            {"value", {value}}};
}

// A root that sends `feature` at or below `threshold` to the leaf `low`, otherwise to `high`.
json stump(int feature, double threshold, double low, double high) {
    return {{"left", {1, -1, -1}},
            {"right", {2, -1, -1}},
            {"feature", {feature, -2, -2}},
            {"threshold", {threshold, -2.0, -2.0}},
            {"value", {0.0, low, high}}};
}

// Two inputs. beyond = -0.1 + 0.2 × [a > 1]: positive only when a is above 1. floorSize is 1.0
// everywhere; beyondSize is 1 ∓ 1 by b against 0.3. The bias is 0.5 and the prediction scales
// estimatedBits[1].
json modelFile() {
    return {
        {"features", {"a", "b"}},
        {"referenceGridIndex", 1},
        {"bias", 0.5},
        {"guardFloor", 70.5},
        {"beyond", {{"initial", -0.1}, {"rate", 1.0}, {"trees", {stump(0, 1.0, 0.0, 0.2)}}}},
        {"beyondThreshold", 0.0},
        {"floorSize", {{"initial", 0.0}, {"rate", 0.5}, {"trees", {leaf(2.0)}}}},
        {"beyondSize", {{"initial", 1.0}, {"rate", 1.0}, {"trees", {stump(1, 0.3, -1.0, 1.0)}}}}};
}

Model decoded(const json &file) {
    std::optional<Model> model = Model::decoded(file.dump());
    EXPECT_TRUE(model.has_value());
    return model.value_or(Model{});
}

Measurements measurements(double a, double b, std::vector<double> estimatedBits = {1000, 2000}) {
    Measurements m;
    m.features = {{"a", a}, {"b", b}, {"unused", NAN}};
    m.estimatedBits = std::move(estimatedBits);
    return m;
}

TEST(PredictorModel, DecodesEveryField) {
    json file = modelFile();
    file["comment"] = "other keys are ignored";
    file["bias"] = 1; // a whole number is fine where a real one belongs
    Model model = decoded(file);
    EXPECT_EQ(model.features, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(model.referenceGridIndex, 1);
    EXPECT_EQ(model.bias, 1.0);
    EXPECT_EQ(model.guardFloor, 70.5);
    EXPECT_EQ(model.beyondThreshold, 0.0);
    EXPECT_EQ(model.beyond.initial, -0.1);
    ASSERT_EQ(model.beyondSize.trees.size(), 1u);
    EXPECT_EQ(model.beyondSize.trees[0].right, (std::vector<int>{2, -1, -1}));
    EXPECT_EQ(model.floorSize.rate, 0.5);
}

struct Damage {
    const char *name;
    void (*apply)(json &file);
};

class BrokenModel : public testing::TestWithParam<Damage> {};

TEST_P(BrokenModel, IsAbsent) {
    json file = modelFile();
    GetParam().apply(file);
    EXPECT_FALSE(Model::decoded(file.dump()).has_value());
}

json &beyondTree(json &file) {
    return file["beyond"]["trees"][0];
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenModel,
    testing::Values(
        Damage{"noFeatures", [](json &f) { f.erase("features"); }},
        Damage{"noReferenceGridIndex", [](json &f) { f.erase("referenceGridIndex"); }},
        Damage{"noBias", [](json &f) { f.erase("bias"); }},
        Damage{"noGuardFloor", [](json &f) { f.erase("guardFloor"); }},
        Damage{"noBeyond", [](json &f) { f.erase("beyond"); }},
        Damage{"noBeyondThreshold", [](json &f) { f.erase("beyondThreshold"); }},
        Damage{"noFloorSize", [](json &f) { f.erase("floorSize"); }},
        Damage{"noBeyondSize", [](json &f) { f.erase("beyondSize"); }},
        Damage{"noRate", [](json &f) { f["floorSize"].erase("rate"); }},
        Damage{"noTreeValues", [](json &f) { beyondTree(f).erase("value"); }},
        Damage{"fractionalIndex", [](json &f) { f["referenceGridIndex"] = 1.0; }},
        Damage{"fractionalChild", [](json &f) { beyondTree(f)["left"][0] = 1.5; }},
        Damage{"textForNumber", [](json &f) { f["bias"] = "0.5"; }},
        Damage{"featureNotText", [](json &f) { f["features"][1] = 2; }},
        Damage{"treesNotAList", [](json &f) { f["beyond"]["trees"] = json::object(); }},
        Damage{"emptyTree",
               [](json &f) {
                   beyondTree(f) = {{"left", json::array()},
                                    {"right", json::array()},
                                    {"feature", json::array()},
                                    {"threshold", json::array()},
                                    {"value", json::array()}};
               }},
        Damage{"shortValueList", [](json &f) { beyondTree(f)["value"].erase(2); }},
        Damage{"childOutsideTheTree", [](json &f) { beyondTree(f)["right"][0] = 3; }},
        Damage{"negativeRightChild", [](json &f) { beyondTree(f)["right"][0] = -1; }},
        Damage{"childPointingBack", [](json &f) { beyondTree(f)["left"][0] = 0; }},
        Damage{"featureOutsideTheInputs", [](json &f) { beyondTree(f)["feature"][0] = 2; }},
        Damage{"childBeyondInt", [](json &f) { beyondTree(f)["right"][0] = 4294967296LL; }},
        Damage{"indexBeyond64Bits",
               [](json &f) { f["referenceGridIndex"] = 18446744073709551615ULL; }}),
    [](const testing::TestParamInfo<Damage> &info) { return std::string(info.param.name); });

TEST(PredictorModel, TextThatIsNotAModelIsAbsent) {
    for (const char *text : {"", "{", "[]", "null", "{\"features\": []}"})
        EXPECT_FALSE(Model::decoded(text).has_value()) << text;
}

TEST(PredictorModel, PredictsWithTheFloorSizeUpToTheThreshold) {
    Model model = decoded(modelFile());
    std::optional<Predictor::Prediction> p = model.prediction(measurements(1.0, 5.0));
    ASSERT_TRUE(p);
    EXPECT_DOUBLE_EQ(p->beyondScore, -0.1);
    EXPECT_FALSE(p->pushedBeyond);
    EXPECT_DOUBLE_EQ(p->bits, 2000 * std::exp(1.0 + 0.5));
}

TEST(PredictorModel, PositiveBeyondScoreUsesTheBeyondSize) {
    Model model = decoded(modelFile());
    std::optional<Predictor::Prediction> p = model.prediction(measurements(1.5, 0.25));
    ASSERT_TRUE(p);
    EXPECT_DOUBLE_EQ(p->beyondScore, 0.1);
    EXPECT_TRUE(p->pushedBeyond);
    EXPECT_DOUBLE_EQ(p->bits, 2000 * std::exp(0.0 + 0.5));
}

TEST(PredictorModel, BeyondScoreOfExactlyZeroUsesTheFloorSize) {
    json file = modelFile();
    file["beyond"] = {{"initial", 0.0}, {"rate", 0.03}, {"trees", json::array()}};
    std::optional<Predictor::Prediction> p = decoded(file).prediction(measurements(5, 5));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->beyondScore, 0.0);
    EXPECT_FALSE(p->pushedBeyond);
}

// 1 + 1e-12 is above the threshold 1 in double precision but rounds onto it in single precision,
// so it goes left (to the low leaf); 1 + 1e-7 stays above it.
TEST(PredictorModel, ComparesInputsRoundedToSinglePrecision) {
    Model model = decoded(modelFile());
    EXPECT_FALSE(model.prediction(measurements(1.0 + 1e-12, 0))->pushedBeyond);
    EXPECT_TRUE(model.prediction(measurements(1.0 + 1e-7, 0))->pushedBeyond);
    // Beyond the float range an input becomes an infinity and goes right.
    EXPECT_TRUE(model.prediction(measurements(1e300, 0))->pushedBeyond);
}

TEST(PredictorModel, NoPredictionWithoutUsableInputs) {
    Model model = decoded(modelFile());
    Measurements missing = measurements(1, 1);
    missing.features.erase("b");
    EXPECT_FALSE(model.prediction(missing));
    EXPECT_FALSE(model.prediction(measurements(NAN, 1)));
    EXPECT_FALSE(model.prediction(measurements(1, std::numeric_limits<double>::infinity())));
    EXPECT_FALSE(model.prediction(measurements(1, 1, {1000})));    // no estimate at index 1
    EXPECT_FALSE(model.prediction(measurements(1, 1, {1000, 0}))); // an estimate of 0 bits
    for (std::int64_t index : {std::int64_t(-1), std::int64_t(2), std::int64_t(4294967296)}) {
        json file = modelFile();
        file["referenceGridIndex"] = index;
        EXPECT_FALSE(decoded(file).prediction(measurements(1, 1))) << index;
    }
}

TEST(PredictorModel, OverflowingSizeGivesNoPrediction) {
    json file = modelFile();
    file["floorSize"]["initial"] = 1000.0;
    EXPECT_FALSE(decoded(file).prediction(measurements(0, 0)));
}

// The program carries no trained model yet: the predictor is absent and the guard floor falls
// back to 72.
TEST(Predictor, WithoutAModelPredictsNothing) {
    EXPECT_FALSE(Predictor::model());
    EXPECT_FALSE(Predictor::prediction(measurements(1, 1)));
    EXPECT_FALSE(Predictor::targetBits(measurements(1, 1)));
    EXPECT_EQ(Predictor::guardFloor(), 72.0);
}

TEST(Predictor, LowestFloorIsTheGuardFloorForTheReferenceTableMode) {
    EXPECT_EQ(Preset::compact().lowestFloor(), Predictor::guardFloor());
    EXPECT_EQ(Preset::balanced().lowestFloor(), 87);
}

} // namespace
} // namespace flenn
