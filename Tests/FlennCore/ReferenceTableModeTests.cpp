#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "Fixtures.h"
#include "JPEGSession.h"
#include "Measurements.h"
#include "Predictor.h"
#include "ReferenceTableMode.h"

namespace flenn {
namespace {

// A model whose prediction is `fraction` of the engine's estimate at grid step 6 (every tree a
// single leaf of value 0, so only the ensembles' starting values count).
Predictor::Model fractionModel(double fraction) {
    const std::string leaf = R"({"left":[-1],"right":[-1],"feature":[-2],"threshold":[-2.0],"value":[0.0]})";
    auto ensemble = [&](double initial) {
        return R"({"initial":)" + std::to_string(initial) + R"(,"rate":0.03,"trees":[)" + leaf + "]}";
    };
    std::string text = R"({"features":["bits_ratio_100"],"referenceGridIndex":6,"bias":0,"guardFloor":71,)"
                       R"("beyond":)" + ensemble(0) + R"(,"beyondThreshold":0,"floorSize":)" +
                       ensemble(std::log(fraction)) + R"(,"beyondSize":)" + ensemble(0) + "}";
    std::optional<Predictor::Model> model = Predictor::Model::decoded(text);
    EXPECT_TRUE(model) << text;
    return *model;
}

// FLENN_GUARD for the length of one test.
class GuardFloorSetting {
  public:
    explicit GuardFloorSetting(const char *value) { setenv("FLENN_GUARD", value, 1); }
    ~GuardFloorSetting() { unsetenv("FLENN_GUARD"); }
};

// Large enough for two by two tiles of 512 pixels in 4:2:0 (16-pixel MCUs).
Bytes cameraPhoto() { return fixtures::jpeg({.width = 1280, .height = 1088, .quality = 92}); }

TEST(ReferenceTableMode, AGuardThatAlwaysPassesKeepsTheRefinedWrite) {
    GuardFloorSetting floor("0");
    Bytes photo = cameraPhoto();
    JPEGSession session(photo);
    std::optional<Compressor::Candidate> candidate =
        Compressor::matchOstrel(session, std::int64_t(photo.size()), fractionModel(0.5));
    ASSERT_TRUE(candidate);
    EXPECT_GT(candidate->settings.matchedLuma, 0);
    EXPECT_EQ(candidate->settings, RequantSettings::matched(candidate->settings.matchedLuma));
    EXPECT_LT(candidate->data.size(), photo.size());
    EXPECT_EQ(session.write(candidate->settings), candidate->data) << "the data is the write at the scale";
    EXPECT_GE(candidate->score, 0);
}

TEST(ReferenceTableMode, AGuardThatNeverPassesLowersTheScaleAndGivesUp) {
    GuardFloorSetting floor("100");
    Bytes photo = cameraPhoto();
    JPEGSession session(photo);
    testing::internal::CaptureStdout();
    setenv("FLENN_DEBUG", "", 1);
    std::optional<Compressor::Candidate> candidate =
        Compressor::matchOstrel(session, std::int64_t(photo.size()), fractionModel(0.5));
    unsetenv("FLENN_DEBUG");
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(candidate);
    std::size_t scored = 0;
    for (std::size_t at = printed.find("sample score"); at != std::string::npos; at = printed.find("sample score", at + 1))
        scored++;
    EXPECT_GT(scored, 2u) << printed;
    EXPECT_NE(printed.find("  predicted "), std::string::npos) << printed;
}

TEST(ReferenceTableMode, WithoutAModelThereIsNoCandidate) {
    Bytes photo = cameraPhoto();
    JPEGSession session(photo);
    EXPECT_FALSE(Compressor::matchOstrel(session, std::int64_t(photo.size()), std::nullopt));
}

TEST(GuardFloor, ComesFromTheEnvironmentWhenItReadsAsANumber) {
    Predictor::Model model = fractionModel(0.5);
    {
        GuardFloorSetting floor("75");
        EXPECT_EQ(Compressor::guardFloor(model), 75);
    }
    {
        GuardFloorSetting floor("abc");
        EXPECT_EQ(Compressor::guardFloor(model), 71);
        EXPECT_EQ(Compressor::guardFloor(std::nullopt), 72);
    }
    EXPECT_EQ(Compressor::guardFloor(model), 71);
}

TEST(GuardSample, TakesTwoByTwoTilesOrTheWholeSmallPicture) {
    Bytes large = cameraPhoto();
    JPEGSession big(large);
    Compressor::GuardSample tiles = Compressor::guardSample(big);
    ASSERT_TRUE(tiles.layout);
    EXPECT_EQ(*tiles.layout, (TileSample{2, 2, 512}));
    EXPECT_EQ(JPEGSession(tiles.reference).info().width, 1024);

    Bytes small = fixtures::jpeg({.width = 600, .height = 400});
    JPEGSession little(small);
    Compressor::GuardSample whole = Compressor::guardSample(little);
    EXPECT_FALSE(whole.layout);
    EXPECT_EQ(JPEGSession(whole.reference).info().width, 600);
    EXPECT_EQ(fixtures::decode(whole.reference), fixtures::decode(small));
}

} // namespace
} // namespace flenn
