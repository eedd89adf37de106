#include <gtest/gtest.h>

#include <algorithm>

#include "requant.h"

namespace flenn {
namespace {

std::array<std::uint16_t, 64> filled(std::uint16_t value) {
    std::array<std::uint16_t, 64> table;
    table.fill(value);
    return table;
}

flenn_settings scaled(int luma, int tilt) {
    flenn_settings settings{};
    settings.luma = settings.chroma = luma;
    settings.tilt = tilt;
    return settings;
}

struct TableCase {
    const char *name;
    flenn_settings settings;
    bool luma;
    std::uint16_t source;
    int position;
    std::uint16_t expected;
};

void PrintTo(const TableCase &c, std::ostream *out) { *out << c.name; }

class DerivedTable : public testing::TestWithParam<TableCase> {};

TEST_P(DerivedTable, ScalesWithinOneTo255AndNeverFiner) {
    const TableCase &c = GetParam();
    auto source = filled(c.source);
    std::array<std::uint16_t, 64> table{};
    flenn_derive_table(&c.settings, c.luma, c.settings.luma, source.data(), table.data());
    EXPECT_EQ(table[c.position], c.expected);
}

flenn_settings standardPerMille(int perMille) {
    flenn_settings settings{};
    settings.luma = settings.chroma = perMille;
    settings.standard = 1;
    return settings;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, DerivedTable,
    testing::Values(
        TableCase{"DoubleSmallStep", scaled(200, 0), true, 3, 10, 6},
        TableCase{"DoubleCappedAt255", scaled(200, 0), true, 200, 10, 255},
        TableCase{"SourceAbove255Kept", scaled(200, 0), true, 300, 10, 300},
        // Tilt 100: DC factor 1 + 1 × 0.75, highest frequency 1 + 1 × 1.75.
        TableCase{"TiltAtDC", scaled(200, 100), true, 20, 0, 35},
        TableCase{"TiltAtHighest", scaled(200, 100), true, 20, 63, 55},
        // Tilt 200 at scale 120: q = 0.5, factor 1.1; 1.1 × 25 = 27.5 rounds to even 28.
        TableCase{"StrongTiltAtDC", scaled(120, 200), true, 25, 0, 28},
        TableCase{"TiltWithoutScaling", scaled(100, 200), true, 7, 63, 7},
        // Standard tables at 500 per mille: the luma DC entry 16 gives 8, never below the source.
        TableCase{"StandardHalf", standardPerMille(500), true, 2, 0, 8},
        TableCase{"StandardNeverFiner", standardPerMille(500), true, 12, 0, 12},
        TableCase{"StandardChroma", standardPerMille(1000), false, 1, 0, 17}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DerivedTable, ExplicitTablesFinerThanTheSourceAreIgnoredPositionByPosition) {
    auto source = filled(10);
    std::array<std::uint16_t, 64> luma = filled(4), chroma = filled(30);
    luma[5] = 20;
    luma[6] = 400;
    flenn_settings settings{};
    settings.luma_table = luma.data();
    settings.chroma_table = chroma.data();
    std::array<std::uint16_t, 64> table{};
    flenn_derive_table(&settings, 1, 100, source.data(), table.data());
    EXPECT_EQ(table[0], 10);
    EXPECT_EQ(table[5], 20);
    EXPECT_EQ(table[6], 255);
    flenn_derive_table(&settings, 0, 100, source.data(), table.data());
    EXPECT_EQ(table[0], 30);
}

struct RoundingCase {
    const char *name;
    std::uint16_t oldStep, newStep;
    double offset, cut;
    int position;
    int value;
    int expected;
};

void PrintTo(const RoundingCase &c, std::ostream *out) { *out << c.name; }

class Requantize : public testing::TestWithParam<RoundingCase> {};

TEST_P(Requantize, RoundsAsItsModeSays) {
    const RoundingCase &c = GetParam();
    auto source = filled(c.oldStep), target = filled(c.newStep);
    flenn_map map;
    flenn_map_build(&map, source.data(), target.data(), c.offset, c.cut);
    JCOEF in[64] = {0}, out[64];
    in[c.position] = JCOEF(c.value);
    flenn_map_apply(&map, in, out);
    EXPECT_EQ(out[c.position], c.expected);
    in[c.position] = JCOEF(-c.value);
    flenn_map_apply(&map, in, out);
    EXPECT_EQ(out[c.position], -c.expected) << "the sign is kept";
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Requantize,
    testing::Values(
        // Ratio 0.5: a dead zone of 15 rounds 1.5 down, plain rounding gives 2 (ties to even).
        RoundingCase{"DeadZoneRoundsDown", 10, 20, 0.15, -1, 5, 3, 1},
        RoundingCase{"NoDeadZoneTiesToEven", 10, 20, 0.0, -1, 5, 3, 2},
        RoundingCase{"NoDeadZoneTieDown", 10, 20, 0.0, -1, 5, 5, 2},
        RoundingCase{"DCIgnoresDeadZone", 10, 20, 0.15, -1, 0, 3, 2},
        RoundingCase{"DCTieToEven", 10, 20, 0.15, -1, 0, 5, 2},
        // Beyond the lookup the same rules apply.
        RoundingCase{"LargeWithDeadZone", 10, 20, 0.15, -1, 9, 201, 100},
        RoundingCase{"LargeDC", 10, 20, 0.15, -1, 0, 201, 100},
        RoundingCase{"LargeNoDeadZone", 10, 20, 0.0, -1, 9, 201, 100},
        RoundingCase{"LargeTieUpToEven", 10, 20, 0.0, -1, 9, 203, 102},
        // Integer mode rounds half up: 3 × 10 / 20 = 1.5 → 2.
        RoundingCase{"IntegerHalfUp", 10, 20, 0.0, 0.0, 5, 3, 2},
        RoundingCase{"IntegerLarge", 10, 20, 0.0, 0.0, 5, 301, 151},
        // A cut zeroes AC values below (cut × L + 0.25 × (s − 1)) / s; L[1] = 11, s = 1.
        RoundingCase{"CutZeroesSmall", 1, 1, 0.0, 1.0, 1, 10, 0},
        RoundingCase{"CutKeepsLarger", 1, 1, 0.0, 1.0, 1, 11, 11},
        RoundingCase{"CutSparesDC", 1, 1, 0.0, 1.0, 0, 10, 10},
        // The widest dead zone still maps a ratio of 1 onto itself.
        RoundingCase{"MaxDeadZoneRatioOne", 7, 7, 0.45, -1, 20, 1, 1}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Requantize, MapIsIdentityOnlyWhenEveryValueStays) {
    auto source = filled(8);
    flenn_map map;
    flenn_map_build(&map, source.data(), source.data(), 0.45, -1);
    EXPECT_EQ(map.identity, 1);
    auto coarser = source;
    coarser[40] = 9;
    flenn_map_build(&map, source.data(), coarser.data(), 0.0, -1);
    EXPECT_EQ(map.identity, 0);
    flenn_map_build(&map, source.data(), source.data(), 0.0, 2.0); // thresholds above one step
    EXPECT_EQ(map.identity, 0);
}

} // namespace
} // namespace flenn
