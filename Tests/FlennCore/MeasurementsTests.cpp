#include <cmath>
#include <memory>

#include <gtest/gtest.h>

#include "CodecError.h"
#include "Fixtures.h"
#include "JPEGSession.h"

namespace flenn {
namespace {

template <typename Adjust> Bytes photo(Adjust adjust) {
    fixtures::JPEGOptions options;
    adjust(options);
    return fixtures::jpeg(options);
}

TEST(Measurements, PackEveryValueOfTheEngineRecord) {
    JPEGSession session(photo([](auto &o) { o.width = 64, o.height = 48; }));
    Measurements m = session.measure();
    EXPECT_EQ(m.features.size(), 166u);
    EXPECT_EQ(m.grid, (std::vector<int>{60, 80, 100, 125, 150, 185, 220, 260, 300, 360, 450, 520,
                                        600, 750, 900, 1200}));
    EXPECT_EQ(m.matchedGrid, (std::vector<double>{0.04, 0.06, 0.08, 0.1, 0.12, 0.14, 0.155, 0.17,
                                                  0.19, 0.22, 0.26, 0.31, 0.37, 0.45, 0.55, 0.7}));
    ASSERT_EQ(m.estimatedBits.size(), 16u);
    ASSERT_EQ(m.matchedBits.size(), 16u);
    ASSERT_EQ(m.matchedParts.size(), 16u);
    ASSERT_TRUE(m.matched);
    for (std::size_t i = 0; i < 16; i++) {
        EXPECT_GT(m.estimatedBits[i], 0);
        EXPECT_EQ(m.matchedBits[i], m.matched->bits(m.matchedGrid[i]));
        EXPECT_EQ(m.matchedParts[i], m.matched->parts(m.matchedGrid[i]));
    }
    EXPECT_EQ(m.lumaPixels, 64 * 8 * 6); // 8 × 6 luma blocks
    EXPECT_EQ(m.sourceBits, double(session.info().bytesConsumed - session.info().markerBytes) * 8);
    EXPECT_DOUBLE_EQ(m.features.at("log_mp"), std::log(64.0 * 48 / 1e6));
    EXPECT_EQ(m.features.at("progressive"), 0);
    EXPECT_EQ(m.features.at("sub"), 4);
}

TEST(Measurements, EstimatorOutlivesTheSession) {
    std::shared_ptr<const MatchedEstimator> estimator;
    double before = 0;
    {
        JPEGSession session(fixtures::jpeg());
        Measurements m = session.measure();
        estimator = m.matched;
        before = m.matched->bits(0.2);
    }
    EXPECT_EQ(estimator->bits(0.2), before);
}

TEST(MatchedEstimator, ScaleMeetsTheTargetWithinTheRange) {
    JPEGSession session(photo([](auto &o) { o.width = 320, o.height = 240, o.quality = 97; }));
    std::shared_ptr<const MatchedEstimator> estimator = session.measure().matched;
    double atLow = estimator->bits(0.02), atHigh = estimator->bits(3);
    ASSERT_GT(atLow, atHigh);
    EXPECT_EQ(estimator->scale(atLow, 0.02, 3), 0.02);
    EXPECT_EQ(estimator->scale(atLow * 2, 0.02, 3), 0.02);
    EXPECT_EQ(estimator->scale(atHigh, 0.02, 3), 3);
    EXPECT_EQ(estimator->scale(atHigh / 2, 0.02, 3), 3);
    double target = std::sqrt(atLow * atHigh);
    double scale = estimator->scale(target, 0.02, 3);
    EXPECT_GT(scale, 0.02);
    EXPECT_LT(scale, 3);
    // The estimate is a step function of the scale: the answer lies where it crosses the target.
    EXPECT_GE(estimator->bits(scale * 0.999), target);
    EXPECT_LE(estimator->bits(scale * 1.001), target);
}

TEST(MatchedEstimator, AbsentChromaScaleMeansTheLumaScale) {
    JPEGSession session(fixtures::jpeg());
    std::shared_ptr<const MatchedEstimator> estimator = session.measure().matched;
    EXPECT_EQ(estimator->bits(0.3), estimator->bits(0.3, 0.3));
    EXPECT_EQ(estimator->parts(0.3, std::nullopt), estimator->parts(0.3, 0.0));
    EXPECT_EQ(estimator->parts(0.3).size(), 5u);
}

TEST(MatchedTable, FollowsTheScaledStandardTableOrGrowsByANinth) {
    QuantTable source;
    source.fill(16);
    source[63] = 2;
    QuantTable table = JPEGSession::matchedTable(source, false, 0.1);
    EXPECT_EQ(table[0], 17);  // c = 1.6 + 10.08 < 32.5: floor(160 / 9)
    EXPECT_EQ(table[63], 11); // c = 9.9 + 1.26 ≥ 4.5: floor(11.66)
    // Scale 0 behaves as 0.002 (a = 9.695): c = 0.032 + 155.12.
    EXPECT_EQ(JPEGSession::matchedTable(source, false, 0)[0], 155);
    EXPECT_EQ(JPEGSession::matchedTable(source, false, 0)[0],
              JPEGSession::matchedTable(source, false, 0.002)[0]);
    EXPECT_EQ(JPEGSession::matchedTable(source, false, 100),
              JPEGSession::matchedTable(source, false, 8));
    // Chroma follows the standard chroma table: 99 at position 63, c = 9.9 + 1.26 again.
    EXPECT_EQ(JPEGSession::matchedTable(source, true, 0.1)[63], 11);
    EXPECT_EQ(JPEGSession::matchedTable(source, true, 0.1)[0], 17);
}

TEST(MatchedTable, NeverFinerThanTheSourceNorAbove255UnlessItWas) {
    QuantTable source;
    source.fill(0);
    source[1] = 300;
    source[2] = 250;
    QuantTable table = JPEGSession::matchedTable(source, false, 8);
    EXPECT_EQ(table[0], 128);
    EXPECT_EQ(table[1], 300);
    EXPECT_EQ(table[2], 255);
}

TEST(MatchedCut, InterpolatesBetweenKnots) {
    const struct {
        double scale, level;
    } cases[] = {{-1, 0.0855},
                 {0, 0.0855},
                 {0.03, 0.0975},
                 {0.17, 0.1535},
                 {0.2, 0.167375},
                 {0.39, 0.2775},
                 {0.5, 0.5 * 0.7115384615384616}};
    for (const auto &c : cases)
        EXPECT_NEAR(JPEGSession::matchedCut(c.scale), c.level, 1e-15) << c.scale;
}

} // namespace
} // namespace flenn
