#include <gtest/gtest.h>

#include <map>

#include "BracketSearch.h"
#include "LossySearch.h"

namespace flenn::Compressor {
namespace {

// A fake checker: scores and byte counts per step, and the steps in the order they were asked.
struct FakeChecker {
    std::function<Measurement(int)> curve;
    std::vector<int> asked;

    std::function<Measurement(int)> measure() {
        return [this](int step) {
            asked.push_back(step);
            return curve(step);
        };
    }
};

// Quality falls and size shrinks steadily with the step.
Measurement smooth(int step) { return {100 - 0.2 * step, 1000000 - 4000 * std::int64_t(step)}; }

TEST(BracketSearch, ExpandsByHalfWhileEveryStepPasses) {
    FakeChecker checker{[](int step) { return Measurement{99, 1000000 - 1000 * std::int64_t(step)}; }, {}};
    EXPECT_EQ(bracketSearch(90, checker.measure(), 1000000, startStep(90)), 180);
    EXPECT_EQ(checker.asked, (std::vector<int>{30, 45, 67, 100, 150, 180}));
}

TEST(BracketSearch, InterpolatesAfterAFailingStartStep) {
    std::map<int, Measurement> table = {{40, {80, 500000}}, {33, {88, 600000}}, {34, {86, 590000}}};
    FakeChecker checker{[&](int step) { return table.at(step); }, {}};
    // Between step 20 (score 100) and 40 (80): 20 + round(13 / 20 × 20) = 33; then
    // 33 + round(1 / 8 × 7) = 34, which fails and closes the bracket.
    EXPECT_EQ(bracketSearch(87, checker.measure(), 1000000, startStep(87)), 33);
    EXPECT_EQ(checker.asked, (std::vector<int>{40, 33, 34}));
}

TEST(BracketSearch, StopsWhenTheBracketCannotChangeTheSizeByMuch) {
    // The failing start step is within 1.5 % of the reference: nothing to gain, nothing passes.
    FakeChecker checker{[](int) { return Measurement{50, 990000}; }, {}};
    EXPECT_EQ(bracketSearch(87, checker.measure(), 1000000, 40), 20);
    EXPECT_EQ(checker.asked, (std::vector<int>{40}));

    // Later in the search: 60 passes at 500,000 bytes, 90 fails at 495,000 bytes.
    std::map<int, Measurement> table = {{40, {95, 600000}}, {60, {92, 500000}}, {90, {80, 495000}}};
    FakeChecker narrowing{[&](int step) { return table.at(step); }, {}};
    EXPECT_EQ(bracketSearch(90, narrowing.measure(), 1000000, 40), 60);
    EXPECT_EQ(narrowing.asked, (std::vector<int>{40, 60, 90}));
}

TEST(BracketSearch, AimsAfterAChangeOfOutcomeAndBisectsAfterARepeat) {
    std::map<int, Measurement> table = {
        {40, {80, 500000}}, {33, {95, 700000}}, {37, {99, 650000}}, {38, {88, 640000}}, {39, {86, 630000}}};
    FakeChecker checker{[&](int step) { return table.at(step); }, {}};
    // 33 passes after a failure: aim at 33 + round(8 / 15 × 7) = 37. 37 passes again: the
    // midpoint 38 follows, not the interpolated 39.
    EXPECT_EQ(bracketSearch(87, checker.measure(), 1000000, 40), 38);
    EXPECT_EQ(checker.asked, (std::vector<int>{40, 33, 37, 38, 39}));
}

TEST(BracketSearch, ClosesOnTheLastPassingStepOfASmoothCurve) {
    FakeChecker checker{smooth, {}};
    // 60 passes, 90 fails, then 60 + round(3 / 6 × 30) = 75 passes and 76 fails.
    EXPECT_EQ(bracketSearch(85, checker.measure(), 1000000, 60), 75);
    EXPECT_EQ(checker.asked, (std::vector<int>{60, 90, 75, 76}));
}

TEST(BracketSearch, StartStepsFollowTheFloor) {
    EXPECT_EQ(startStep(80), 60);
    EXPECT_EQ(startStep(81), 40);
    EXPECT_EQ(startStep(87), 40);
    EXPECT_EQ(startStep(88), 40);
    EXPECT_EQ(startStep(88.5), 30);
    EXPECT_EQ(startStep(90), 30);
}

TEST(SearchSampleLayout, SpreadsAboutOneTilePerMegapixelOverThePhotosShape) {
    struct Case {
        std::int64_t width, height;
        int columns, rows;
    };
    for (Case c : {Case{6000, 4000, 6, 3},   // 22 tiles wanted, 18 taken
                   Case{4000, 2000, 4, 1},   // exactly 8 megapixels: 7 tiles wanted
                   Case{3000, 4000, 3, 3},   // portrait
                   Case{20000, 1000, 19, 1}, // panorama: one row
                   Case{40000, 400, 39, 1},  // more columns than tiles wanted stay one row
                   Case{8000, 8000, 5, 4}}) { // at most 24 tiles
        TileSample layout = searchSampleLayout(c.width, c.height);
        EXPECT_EQ(layout, (TileSample{c.columns, c.rows, 512})) << c.width << " x " << c.height;
    }
}

} // namespace
} // namespace flenn::Compressor
