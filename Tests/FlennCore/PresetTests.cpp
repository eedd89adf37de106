#include <gtest/gtest.h>

#include "Preset.h"
#include "Result.h"

namespace flenn {
namespace {

TEST(Preset, NamedFindsExactIdentifiersOnly) {
    ASSERT_TRUE(Preset::named("high"));
    EXPECT_EQ(Preset::named("high")->name, "High Fidelity");
    EXPECT_FALSE(Preset::named("High"));
    EXPECT_FALSE(Preset::named(""));
    std::vector<std::string> ids;
    for (const Preset &preset : Preset::all())
        ids.push_back(preset.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"compact", "balanced", "high", "lossless"}));
}

TEST(Preset, FloorsAndModes) {
    EXPECT_EQ(Preset::compact().floor, 81);
    EXPECT_TRUE(Preset::compact().matchesOstrel);
    EXPECT_EQ(Preset::balanced().floor, 87);
    EXPECT_EQ(Preset::highFidelity().floor, 90);
    EXPECT_FALSE(Preset::highFidelity().matchesOstrel);
    EXPECT_TRUE(Preset::lossless().isLossless());
    EXPECT_FALSE(Preset::highFidelity().isLossless());
    for (const Preset &preset : Preset::all())
        EXPECT_EQ(preset.minimumSaving, 0.03);
}

TEST(Preset, EqualityIsByIdentifier) {
    Preset changed = Preset::balanced();
    changed.floor = 50;
    EXPECT_EQ(changed, Preset::balanced());
    EXPECT_NE(Preset::compact(), Preset::balanced());
}

TEST(Preset, StandardShapeScalesTheSourceWithTheDeadZone) {
    RequantSettings settings = Preset::balanced().shape(250);
    EXPECT_EQ(settings, RequantSettings(250, 250, 0, 15, false));
    EXPECT_FALSE(settings.isLossless());
}

TEST(Outcome, RawValuesRoundTrip) {
    EXPECT_EQ(rawValue(Outcome::copied), "Copied");
    EXPECT_EQ(rawValue(Outcome::lossless), "Repacked");
    EXPECT_EQ(rawValue(Outcome::flenned), "Flenned");
    for (Outcome outcome : {Outcome::copied, Outcome::lossless, Outcome::flenned})
        EXPECT_EQ(outcomeNamed(rawValue(outcome)), outcome);
    EXPECT_FALSE(outcomeNamed("copied"));
}

TEST(Result, SavedIsTheFractionNotWritten) {
    EXPECT_DOUBLE_EQ((Result{.before = 200, .after = 150}).saved(), 0.25);
    EXPECT_EQ((Result{.before = 0, .after = 10}).saved(), 0);
}

} // namespace
} // namespace flenn
