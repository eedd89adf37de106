#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "CoefficientJPEG.h"
#include "EngineSupport.h"
#include "Fixtures.h"

#include "matched.h"
extern "C" {
#include "requant.h"
}

namespace flenn {
namespace {

using fixtures::CoefficientComponent;
using Table = std::array<std::uint16_t, 64>;

using engine::Session;

template <typename Adjust> Bytes photo(Adjust adjust) {
    fixtures::JPEGOptions options;
    adjust(options);
    return fixtures::jpeg(options);
}

flenn_settings matched(double scale, double cut = 0, bool uniform = false) {
    flenn_settings s{};
    s.luma = s.chroma = 100;
    s.matched_luma = scale;
    s.matched_cut = cut;
    s.matched_uniform = uniform ? 1 : 0;
    return s;
}

// ---- Tile factor and classes ----

TEST(MatchedTileFactor, FollowsScaleActivityAndRelativeScale) {
    const double blendedP = 0.97 + (0.8 - 0.97) * (0.25 - 0.2) / (0.26 - 0.2);
    const struct {
        double activity, scale, relative, factor;
    } cases[] = {
        {0.5, 0.05, 1.0, 0.55},                             // below every ramp
        {1.1, 0.2, 2.0, 0.97},                              // busy tile, no blend (w = 0)
        {5.0, 0.25, 1.5, blendedP},                         // blended fully toward p
        {0.0, 0.25, 0.5, 0.72 + 0.08 * 0.6},                // quiet tile: toward q
        {16.0, 0.42, 3.0, 0.97 * (1 + 0.07 * 0.06 / 0.09)}, // strong scale lifts busy tiles
    };
    for (const auto &c : cases)
        EXPECT_NEAR(flenn_matched_tile_factor(c.activity, c.scale, c.relative), c.factor, 1e-12)
            << c.activity << " " << c.scale << " " << c.relative;
}

TEST(MatchedTileFactor, ClassRoundsToStepsOf002) {
    const struct {
        double factor;
        int tileClass;
    } cases[] = {{1.0, 25}, {0.5, 0}, {0.3, 0}, {0.55, 3}, {0.768, 13}, {1.28, 39}, {2.0, 39}};
    for (const auto &c : cases)
        EXPECT_EQ(flenn_matched_class(c.factor), c.tileClass) << c.factor;
}

// ---- Integer maps ----

TEST(IntegerMap, RoundsHalfUpAndCutsBelowTheThreshold) {
    Table source, target;
    source.fill(1);
    target.fill(2);
    source[1] = 4; // threshold with cut 1: (11 + 0.25 × 3) / 4 = 2.9375
    target[1] = 8;
    auto map = std::make_unique<flenn_map>();
    flenn_map_build(map.get(), source.data(), target.data(), 0.0, 1.0);
    EXPECT_TRUE(map->integer_mode);
    EXPECT_FALSE(map->identity);
    EXPECT_EQ(map->lookup[0][5], 3) << "2.5 rounds up, not to even";
    EXPECT_EQ(map->lookup[1][2], 0);
    EXPECT_EQ(map->lookup[1][3], 2); // (24 + 8) / 16
    JCOEF in[64] = {}, out[64];
    in[0] = 1;    // the DC is never cut
    in[2] = 201;  // beyond the lookup: 100.5 rounds up
    in[3] = -201; // with its sign
    in[8] = 17;   // threshold (12 + 0) / 1 = 12 at position 8: kept, 8.5 → 9
    in[9] = 11;   // below the threshold 12
    flenn_map_apply(map.get(), in, out);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[2], 101);
    EXPECT_EQ(out[3], -101);
    EXPECT_EQ(out[8], 9);
    EXPECT_EQ(out[9], 0);
}

TEST(IntegerMap, WithoutCutOrChangeIsTheIdentity) {
    Table table;
    table.fill(3);
    auto map = std::make_unique<flenn_map>();
    flenn_map_build(map.get(), table.data(), table.data(), 0.0, 0.0);
    EXPECT_TRUE(map->integer_mode);
    EXPECT_TRUE(map->identity);
    flenn_map_build(map.get(), table.data(), table.data(), 0.0, 0.5); // thresholds above 1
    EXPECT_FALSE(map->identity);
}

// ---- The writer's matched mode ----

// A 512 × 256 greyscale photo of two tiles on a table about half the standard one (so the
// relative scale stays far below 1.8). The activity lattice of the left tile is flat; that of the
// right tile carries a value 8 at position 1 (deviation 6). Odd rows, which activity never reads,
// carry the magnitudes under test at position 63, whose source step is 1.
Table halfStandard() {
    Table table;
    for (int k = 0; k < 64; k++)
        table[std::size_t(k)] = std::uint16_t((flenn_standard_luma[k] + 1) / 2);
    table[63] = 1;
    return table;
}

const int probes[] = {12, 13, 14, 15, 16, 19, 20, 100};

Bytes twoTiles() {
    CoefficientComponent grey;
    grey.table = halfStandard();
    grey.fill = [](int r, int c, JCOEF *block) {
        bool visited = r % 2 == 0 && c % 2 == (r / 2) % 2;
        if (visited && c >= 32)
            block[1] = 8;
        if (r % 2 == 1 && c % 32 < 8 &&
            r / 2 < 8) // probes at rows 1, 3 … 15, columns 0–7 and 32–39
            block[63] = JCOEF(probes[r / 2] * (c % 2 ? -1 : 1));
    };
    return fixtures::coefficientJPEG(512, 256, {grey});
}

// What position 63 of a probe becomes: at scale 0.25 the new step is 25 and the cut level 0.1932;
// the left tile is class 13 (threshold 0.76 × 0.1932 × 99 = 14.54), the right one class 16
// (15.68); uniform is class 25 (19.13). Kept magnitudes round half up: (2m + 25) / 50.
int expectedProbe(int magnitude, double threshold) {
    return magnitude < threshold ? 0 : (2 * magnitude + 25) / 50;
}

void expectProbes(const Bytes &written, int row0, int leftColumn, int rightColumn, double left,
                  double right) {
    auto blocks = fixtures::readCoefficients(written, 0);
    for (int p = 0; p < 8; p++) {
        int row = row0 + 2 * p;
        for (int offset : {0, 1}) {
            int sign = offset ? -1 : 1;
            EXPECT_EQ(blocks[std::size_t(row)][std::size_t(leftColumn + offset)][63],
                      sign * expectedProbe(probes[p], left))
                << "left, magnitude " << probes[p];
            EXPECT_EQ(blocks[std::size_t(row)][std::size_t(rightColumn + offset)][63],
                      sign * expectedProbe(probes[p], right))
                << "right, magnitude " << probes[p];
        }
    }
}

TEST(MatchedWrite, CutsEachTileByItsActivity) {
    Session session(twoTiles());
    expectProbes(session.write(matched(0.25)), 1, 0, 32, 14.536368, 15.683976);
}

TEST(MatchedWrite, UniformTilesShareOneCut) {
    Session session(twoTiles());
    expectProbes(session.write(matched(0.25, 0, true)), 1, 0, 32, 19.1268, 19.1268);
}

TEST(MatchedWrite, CutMultiplierScalesEveryTile) {
    Session session(twoTiles());
    expectProbes(session.write(matched(0.25, 0.75)), 1, 0, 32, 0.75 * 14.536368, 0.75 * 15.683976);
}

TEST(MatchedWrite, NegativeCutKeepsEverySurvivingValue) {
    Session session(twoTiles());
    expectProbes(session.write(matched(0.25, -1)), 1, 0, 32, 0, 0);
}

// A 2 × 1 sample of 256-pixel tiles takes source columns 8–39 and 24–55: the probes of source
// columns 32–33 land at output columns 24–25 and 40–41 and keep the right tile's cut, those of
// columns 0–7 are not sampled.
TEST(MatchedWrite, SampledTilesKeepTheirSourceTilesCut) {
    Session session(twoTiles());
    Bytes sample = session.write(matched(0.25), std::array<int, 3>{2, 1, 256});
    expectProbes(sample, 1, 24, 40, 15.683976, 15.683976);
}

TEST(MatchedWrite, UsesMatchedTablesPerSlot) {
    Session session(photo([](auto &o) { o.width = 96, o.height = 64; }));
    const flenn_info *info = flenn_session_get_info(session.handle);
    flenn_settings settings = matched(0.3);
    settings.matched_chroma = 0.6;
    Session written(session.write(settings));
    Table luma, chroma;
    flenn_matched_table(info->quant[0], 0, luma.data(), 0.3);
    flenn_matched_table(info->quant[1], 1, chroma.data(), 0.6);
    const flenn_info *out = flenn_session_get_info(written.handle);
    EXPECT_TRUE(std::equal(luma.begin(), luma.end(), out->quant[0]));
    EXPECT_TRUE(std::equal(chroma.begin(), chroma.end(), out->quant[1]));
    EXPECT_TRUE(std::equal(chroma.begin(), chroma.end(), out->quant[2]));
}

TEST(MatchedWrite, ComponentsSharingASlotShareTheLumaTable) {
    CoefficientComponent y, cb, cr;
    y.table = halfStandard();
    y.hSampling = y.vSampling = 2;
    cb.table = cr.table = y.table;
    Session session(fixtures::coefficientJPEG(64, 64, {y, cb, cr}));
    Session written(session.write(matched(0.3)));
    Table luma;
    flenn_matched_table(y.table.data(), 0, luma.data(), 0.3);
    const flenn_info *out = flenn_session_get_info(written.handle);
    EXPECT_TRUE(std::equal(luma.begin(), luma.end(), out->quant[1]));
}

TEST(MatchedWrite, ExplicitTablesWinButTheCutStays) {
    Session session(twoTiles());
    Table explicitTable = halfStandard();
    explicitTable[63] = 25; // the matched table's step, so only the table source differs
    flenn_settings settings = matched(0.25);
    settings.luma_table = explicitTable.data();
    settings.chroma_table = explicitTable.data();
    Bytes written = session.write(settings);
    Session reopened(written);
    EXPECT_TRUE(std::equal(explicitTable.begin(), explicitTable.end(),
                           flenn_session_get_info(reopened.handle)->quant[0]));
    expectProbes(written, 1, 0, 32, 14.536368, 15.683976);
}

// ---- The estimator ----

int bitLength(int value) {
    int bits = 0;
    for (value = std::abs(value); value; value >>= 1)
        bits++;
    return bits;
}

// Every block is scanned, the tile classes agree and the DC never changes, so the estimate's
// count of non-zero AC values and their magnitude bits are exactly those of the written file.
TEST(MatchedEstimate, CountsWhatTheWriterKeeps) {
    Session session(twoTiles());
    auto record = session.measure();
    for (double scale : {0.08, 0.25, 0.45}) {
        double parts[5];
        double estimate = flenn_measurements_matched_parts_at(record.get(), parts, scale, 0);
        EXPECT_EQ(estimate, flenn_measurements_matched_bits_at(record.get(), scale, 0));
        int nonzero = 0, bits = 0;
        for (const auto &row : fixtures::readCoefficients(session.write(matched(scale)), 0))
            for (const auto &block : row)
                for (int k = 1; k < 64; k++)
                    if (block[std::size_t(k)]) {
                        nonzero++;
                        bits += bitLength(block[std::size_t(k)]);
                    }
        EXPECT_EQ(parts[1], nonzero) << scale;
        EXPECT_EQ(parts[0], bits) << scale;
        EXPECT_EQ(parts[2], 64 * 32) << scale;
        EXPECT_EQ(parts[3], 0) << scale;
        EXPECT_DOUBLE_EQ(estimate, 1.16 * parts[0] + 3.554 * parts[1] + 2.443 * parts[2]);
    }
}

TEST(MatchedEstimate, GreyPhotosHaveNoChromaTerms) {
    Session grey(photo([](auto &o) { o.color = fixtures::Color::grey; }));
    auto record = grey.measure();
    EXPECT_EQ(flenn_measurements_matched_bits_at(record.get(), 0.2, 0.05),
              flenn_measurements_matched_bits_at(record.get(), 0.2, 0.6));
    EXPECT_EQ(flenn_measurements_matched_part(record.get(), 3, 2), 8 * 6); // 64 × 48: luma only

    Session colour(fixtures::jpeg());
    auto colourRecord = colour.measure();
    EXPECT_GT(flenn_measurements_matched_bits_at(colourRecord.get(), 0.2, 0.05),
              flenn_measurements_matched_bits_at(colourRecord.get(), 0.2, 0.6));
}

TEST(MatchedEstimate, NothingAtScalesNotAboveZero) {
    Session session(fixtures::jpeg());
    auto record = session.measure();
    double parts[5] = {1, 1, 1, 1, 1};
    EXPECT_EQ(flenn_measurements_matched_parts_at(record.get(), parts, 0, 0), 0);
    EXPECT_EQ(flenn_measurements_matched_bits_at(record.get(), -1, 0), 0);
    EXPECT_EQ(flenn_measurements_matched_bits_at(record.get(), NAN, 0), 0);
    for (double part : parts)
        EXPECT_EQ(part, 0);
    EXPECT_EQ(flenn_measurements_matched_part(record.get(), 16, 0), 0);
    EXPECT_EQ(flenn_measurements_matched_bits(record.get(), -1), 0);
}

TEST(MatchedEstimate, FallsAlongTheMatchedGrid) {
    Session session(photo([](auto &o) { o.width = 256, o.height = 192, o.quality = 95; }));
    auto record = session.measure();
    for (int i = 1; i < 16; i++) {
        EXPECT_LE(flenn_measurements_matched_bits(record.get(), i),
                  flenn_measurements_matched_bits(record.get(), i - 1))
            << i;
        EXPECT_EQ(flenn_measurements_matched_bits(record.get(), i),
                  flenn_measurements_matched_bits_at(record.get(), flenn_matched_grid_scale(i), 0));
    }
}

} // namespace
} // namespace flenn
