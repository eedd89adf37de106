#include <cmath>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "CoefficientJPEG.h"
#include "EngineSupport.h"

#include "texture.h"

namespace flenn {
namespace {

using fixtures::CoefficientComponent;

using engine::Session;

CoefficientComponent grey(std::uint16_t step, std::function<void(int, int, JCOEF *)> fill) {
    CoefficientComponent component;
    component.table.fill(step);
    component.fill = std::move(fill);
    return component;
}

// Activity visits every second block of every second row, alternating the columns between row
// pairs: (r, c) with r even and c ≡ r / 2 (mod 2). Those blocks carry one value per tile; all
// others a much larger one that must not count.
TEST(TileActivity, MeansTheDeviationOfAQuarterOfTheBlocks) {
    auto visited = [](int r, int c) { return r % 2 == 0 && c % 2 == (r / 2) % 2; };
    const int perTile[2][2] = {{16, 100}, {0, 8}}; // deviations 2, 12.5, 0 and 1
    Session session(fixtures::coefficientJPEG(
        512, 512, {grey(1, [&](int r, int c, JCOEF *block) {
            block[1] = JCOEF(visited(r, c) ? perTile[r / 32][c / 32] : 400);
        })}));
    float activity[4];
    std::uint32_t counts[4];
    flenn_tile_activity(session.handle, activity, 2, 2, counts);
    EXPECT_FLOAT_EQ(activity[0], 2.0f);
    EXPECT_FLOAT_EQ(activity[1], 12.5f);
    EXPECT_FLOAT_EQ(activity[2], 0.0f);
    EXPECT_FLOAT_EQ(activity[3], 1.0f);
    EXPECT_EQ(flenn_tile_class(activity[1]), 11);
    EXPECT_EQ(flenn_tile_class(activity[2]), 0);

    flenn_tile_activity(session.handle, activity, 2, 2, nullptr);
    EXPECT_EQ(activity[1], 0.0f) << "without its counters every activity stays 0";
}

TEST(TileActivity, ClassCountsTheThresholdsReached) {
    const struct {
        float activity;
        int tileClass;
    } cases[] = {{0.0f, 0},   {0.6999f, 0}, {0.7001f, 1}, {1.1001f, 5}, {2.6f, 6},   {3.5f, 10},
                 {11.9f, 10}, {12.0f, 11},  {15.99f, 14}, {16.0f, 15},  {500.0f, 15}};
    for (const auto &c : cases)
        EXPECT_EQ(flenn_tile_class(c.activity), c.tileClass) << c.activity;
}

struct MapCase {
    int width, height, columns, rows;
};

class TextureScan : public testing::TestWithParam<MapCase> {};

// A small photo fills one cell per block: the map is 24 × 16, or 16 × 24 for a portrait, and a
// photo with fewer blocks than cells leaves cells empty.
TEST_P(TextureScan, MapsEveryScannedBlockToOneCell) {
    const MapCase &c = GetParam();
    Session session(fixtures::coefficientJPEG(
        c.width, c.height, {grey(2, [](int r, int col, JCOEF *block) {
            block[2] = JCOEF((r + col) % 3 * 4); // textured where not 0: E = (8 or 16 × 2)²
        })}));
    auto group = std::make_unique<flenn_group>();
    flenn_group_init(group.get(), session.handle->info.quant[0], 1, LEVELS);
    auto map = std::make_unique<flenn_texture_map>();
    flenn_texture_scan(session.handle, group.get(), map.get());
    EXPECT_EQ(map->columns, c.columns);
    EXPECT_EQ(map->rows, c.rows);
    int blocks = 0, occupied = 0, textured = 0;
    for (const flenn_cell &cell : map->cell) {
        blocks += int(cell.value[0]);
        occupied += cell.value[0] > 0;
        textured += int(cell.value[1]);
    }
    int total = 0, expectedTextured = 0;
    for (int r = 0; r < c.height / 8; r++)
        for (int col = 0; col < c.width / 8; col++, total++)
            expectedTextured += (r + col) % 3 != 0;
    EXPECT_EQ(blocks, total);
    EXPECT_EQ(occupied, total);
    EXPECT_EQ(textured, expectedTextured);
}

INSTANTIATE_TEST_SUITE_P(Orientations, TextureScan,
                         testing::Values(MapCase{128, 64, 24, 16}, MapCase{64, 128, 16, 24},
                                         MapCase{64, 64, 24, 16}));

// Regions given by hand: blocks, textured blocks, then the kept texture at each step.
flenn_cell region(float blocks, float textured, float keptShare) {
    flenn_cell cell{};
    cell.value[0] = blocks;
    cell.value[1] = textured;
    for (int i = 0; i < GRID_STEPS; i++)
        cell.value[2 + i] = textured * keptShare * float(GRID_STEPS - i) / 16.0f;
    return cell;
}

TEST(PooledTexture, InterpolatesAQuantileOverTheRegionsThatTakePart) {
    std::vector<flenn_cell> regions = {region(100, 50, 0.8f), region(100, 50, 0.2f),
                                       region(100, 50, 0.5f), region(0, 0, 0)};
    // The empty region lowers the mean to 75 but never takes part.
    EXPECT_NEAR(flenn_pooled_texture(regions.data(), 4, 0, 0), 0.2, 1e-6);
    EXPECT_NEAR(flenn_pooled_texture(regions.data(), 4, 0, 0.5), 0.5, 1e-6);
    EXPECT_NEAR(flenn_pooled_texture(regions.data(), 4, 0, 0.25), 0.35, 1e-6);
    EXPECT_NEAR(flenn_pooled_texture(regions.data(), 4, 8, 1), 0.8 * 8 / 16, 1e-6);
}

TEST(PooledTexture, LeavesOutSparseAndUntexturedRegions) {
    // Mean blocks 100: a region needs 25 blocks and 10 textured ones.
    std::vector<flenn_cell> regions = {region(24, 20, 0.1f), region(100, 9, 0.1f),
                                       region(176, 60, 0.9f)};
    EXPECT_NEAR(flenn_pooled_texture(regions.data(), 3, 0, 0), 0.9, 1e-6);
    std::vector<flenn_cell> none = {region(100, 0, 0), region(100, 5, 0.3f)};
    EXPECT_EQ(flenn_pooled_texture(none.data(), 2, 0, 0), 1);
    EXPECT_EQ(flenn_pooled_texture(none.data(), 0, 0, 0), 1);
}

TEST(PooledTexture, IsoTextureSolvesTheFallingCurve) {
    double y[GRID_STEPS];
    flenn_grid_logs(y);
    std::vector<flenn_cell> regions = {region(100, 50, 1.0f)}; // kept share (16 − i) / 16
    // 0.8 lies between steps 3 (0.8125) and 4 (0.75): a fifth of the way.
    EXPECT_NEAR(flenn_iso_texture(y, regions.data(), 1, 0, 0.8), y[3] + 0.2 * (y[4] - y[3]), 1e-6);
}

TEST(Regions, MergeSquaresOfCells) {
    flenn_texture_map map{};
    map.columns = 24;
    map.rows = 16;
    for (int j = 0; j < MAP_CELLS; j++)
        map.cell[j].value[0] = float(j);
    std::vector<flenn_cell> regions(MAP_CELLS);
    EXPECT_EQ(flenn_merge_regions(&map, 2, regions.data()), 96);
    EXPECT_EQ(regions[0].value[0], 0 + 1 + 24 + 25);
    EXPECT_EQ(flenn_merge_regions(&map, 4, regions.data()), 24);
    EXPECT_EQ(regions[23].value[0], 5528); // cells of rows 12 to 15, columns 20 to 23
}

} // namespace
} // namespace flenn
