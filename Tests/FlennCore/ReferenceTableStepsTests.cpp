#include <gtest/gtest.h>

#include <cmath>

#include "ReferenceTableSteps.h"

namespace flenn::Compressor {
namespace {

Bytes ofSize(double bytes) { return Bytes(std::vector<std::uint8_t>(std::size_t(std::llround(bytes)), 0)); }

// A photo whose writes shrink as 100,000 × scale^-0.5 bytes, and an estimator that is off by a
// constant factor, as a real one is by a few percent.
struct FakePhoto {
    double estimatorError = 1.0;
    std::vector<double> written;

    double bytesAt(double scale) const { return 100000 / std::sqrt(scale); }
    std::function<Bytes(double)> write() {
        return [this](double scale) {
            written.push_back(scale);
            return ofSize(bytesAt(scale));
        };
    }
    std::function<double(double)> bitsAt() {
        return [this](double scale) { return 8 * bytesAt(scale) * estimatorError; };
    }
    std::function<double(double)> scaleForBits() {
        return [this](double bits) { return std::pow(8 * 100000 * estimatorError / bits, 2); };
    }
};

TEST(RefineToTarget, AFirstWriteWithinOnePointFivePercentIsKept) {
    FakePhoto photo;
    RefinedWrite refined = refineToTarget(100000 / std::sqrt(0.5) * 1.01, 1 << 30, 0.5, photo.write(),
                                          photo.scaleForBits(), photo.bitsAt());
    EXPECT_EQ(photo.written, std::vector<double>{0.5});
    EXPECT_EQ(refined.scale, 0.5);
}

TEST(RefineToTarget, CorrectsThroughTheEstimatorUntilClose) {
    FakePhoto photo{1.1};
    double target = 200000; // scale 0.25 exactly
    RefinedWrite refined =
        refineToTarget(target, 1 << 30, 0.1, photo.write(), photo.scaleForBits(), photo.bitsAt());
    ASSERT_GE(photo.written.size(), 2u);
    EXPECT_LE(photo.written.size(), 4u) << "three corrections at most";
    EXPECT_NEAR(double(refined.data.size()) / target, 1, 0.015);
    EXPECT_EQ(refined.scale, photo.written.back());
}

TEST(RefineToTarget, StopsWhenTheScaleWouldHardlyMove) {
    FakePhoto photo;
    // 3 % off target, but the estimator answers within 0.4 % of the current scale.
    RefinedWrite refined = refineToTarget(
        100000 / std::sqrt(0.5) * 1.03, 1 << 30, 0.5, photo.write(), [](double) { return 0.5 * 1.003; },
        photo.bitsAt());
    EXPECT_EQ(photo.written.size(), 1u);
    EXPECT_EQ(refined.scale, 0.5);
}

TEST(RefineToTarget, NeverEnlargesAWriteAlreadyAsLargeAsThePicture) {
    double target = 100000 / std::sqrt(0.5) * 1.2; // the first write is under: a lower scale follows
    FakePhoto small;
    refineToTarget(target, 100000, 0.5, small.write(), small.scaleForBits(), small.bitsAt());
    EXPECT_EQ(small.written.size(), 1u);
    FakePhoto large;
    refineToTarget(target, 1 << 30, 0.5, large.write(), large.scaleForBits(), large.bitsAt());
    EXPECT_EQ(large.written.size(), 2u);
}

TEST(RefineToTarget, InterpolatesInLogLogSpaceOnceTheTargetIsBracketed) {
    // A misleading estimator overshoots both ways: 0.1 is over, 1.0 is under, the target lies at
    // 0.25 on the straight line through them (sizes ∝ scale^-0.5 are straight in log–log space).
    FakePhoto photo;
    std::vector<double> answers = {1.0, 0.9};
    std::size_t asked = 0;
    RefinedWrite refined = refineToTarget(
        200000, 1 << 30, 0.1, photo.write(), [&](double) { return answers[std::min(asked++, answers.size() - 1)]; },
        photo.bitsAt());
    ASSERT_EQ(photo.written.size(), 3u);
    EXPECT_NEAR(photo.written[2], 0.25, 1e-6); // sizes are whole bytes
    EXPECT_NEAR(refined.scale, 0.25, 1e-6);
    EXPECT_EQ(asked, 1u) << "the estimator is not asked once the target is bracketed";
}

TEST(RefineToTarget, KeepsTheWriteClosestToTheTarget) {
    FakePhoto photo;
    std::vector<double> answers = {0.2, 0.06, 0.07};
    std::size_t asked = 0;
    // Target at scale 0.25; every write stays over it, and the answers get worse after the first.
    RefinedWrite refined = refineToTarget(
        200000, 1 << 30, 0.05, photo.write(), [&](double) { return answers[asked++]; }, photo.bitsAt());
    EXPECT_EQ(photo.written, (std::vector<double>{0.05, 0.2, 0.06, 0.07}));
    EXPECT_EQ(refined.scale, 0.2);
    EXPECT_EQ(refined.data.size(), std::size_t(std::llround(100000 / std::sqrt(0.2))));
}

struct FakeGuard {
    std::function<double(double)> scoreAt;
    std::function<double(double)> sizeAt = [](double scale) { return 1000 / scale; };
    std::vector<double> scored;

    std::function<Bytes(double)> sample() {
        return [this](double scale) { return ofSize(sizeAt(scale)); };
    }
    std::function<double(const Bytes &, double)> score() {
        return [this](const Bytes &, double scale) {
            scored.push_back(scale);
            return scoreAt(scale);
        };
    }
};

TEST(GuardScale, APassingFirstSampleIsScoredOnce) {
    FakeGuard guard{[](double) { return 80.0; }};
    std::optional<GuardedScale> guarded = guardScale(0.4, 71, guard.sample(), guard.score());
    ASSERT_TRUE(guarded);
    EXPECT_EQ(guarded->scale, 0.4);
    EXPECT_EQ(guarded->score, 80);
    EXPECT_FALSE(guarded->lowered);
    EXPECT_EQ(guard.scored.size(), 1u);
}

TEST(GuardScale, LowersBySteps0f15PercentUntilTheFloorHolds) {
    FakeGuard guard{[](double scale) { return scale < 0.3 ? 75.0 : 60.0; }};
    std::optional<GuardedScale> guarded = guardScale(0.4, 71, guard.sample(), guard.score());
    ASSERT_TRUE(guarded);
    EXPECT_TRUE(guarded->lowered);
    EXPECT_NEAR(guarded->scale, 0.4 * 0.85 * 0.85, 1e-12); // 0.34 fails, 0.289 passes
    EXPECT_EQ(guard.scored.size(), 3u);
}

TEST(GuardScale, ScoresIdenticalSamplesOnceAndGivesUpBelow003) {
    // Samples change only every other step; nothing ever passes.
    FakeGuard guard{[](double) { return 10.0; }, [](double scale) { return std::floor(std::log(scale) / std::log(0.7225)); }};
    std::optional<GuardedScale> guarded = guardScale(0.5, 100, guard.sample(), guard.score());
    EXPECT_FALSE(guarded);
    int steps = int(std::ceil(std::log(0.03 / 0.5) / std::log(0.85)));
    EXPECT_LT(int(guard.scored.size()), steps) << "unchanged samples are not scored again";
    EXPECT_LE(guard.scored.back(), 0.03 / 0.85 + 1e-12);
}

} // namespace
} // namespace flenn::Compressor
