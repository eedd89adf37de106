#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include <jpeglib.h>

#include "EngineSupport.h"
#include "Fixtures.h"

namespace flenn {
namespace {

using fixtures::Color;
using fixtures::JPEGOptions;
using fixtures::Segment;

std::vector<int> markerCodes(const Bytes &jpeg) {
    std::vector<int> codes;
    for (auto [code, offset] : fixtures::headerMarkers(jpeg))
        codes.push_back(code);
    return codes;
}

bool has(const std::vector<int> &codes, int code) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

struct Source {
    const char *name;
    JPEGOptions options;
};

void PrintTo(const Source &c, std::ostream *out) { *out << c.name; }

std::vector<Source> sources() {
    return {
        {"Baseline420OddSize", {.width = 75, .height = 41}},
        {"Grey", {.width = 67, .height = 30, .color = Color::grey, .hSampling = 1, .vSampling = 1}},
        {"Sampling422", {.width = 50, .height = 50, .hSampling = 2, .vSampling = 1}},
        {"Sampling440", {.width = 33, .height = 70, .hSampling = 1, .vSampling = 2}},
        {"Sampling444", {.width = 40, .height = 24, .hSampling = 1, .vSampling = 1}},
        {"GreyDeclaring2x2", {.width = 41, .height = 27, .color = Color::grey}},
        {"Progressive", {.width = 80, .height = 60, .progressive = true}},
        {"RestartIntervals", {.width = 64, .height = 64, .restartRows = 1}},
        {"Arithmetic", {.width = 48, .height = 40, .arithmetic = true}},
        {"HighQuality", {.width = 64, .height = 48, .quality = 100}},
        {"TinyBlock", {.width = 1, .height = 1}},
        // Mostly padding blocks at the right and bottom edges of the MCU grid.
        {"EdgeHeavy420", {.width = 17, .height = 17, .quality = 60}},
        {"EdgeHeavyStrip", {.width = 250, .height = 9, .quality = 60, .seed = 3}},
    };
}

class LosslessRewrite : public testing::TestWithParam<Source> {};

TEST_P(LosslessRewrite, KeepsEveryCoefficientAndDecodesToTheSamePixels) {
    Bytes source = fixtures::jpeg(GetParam().options);
    engine::Opened opened = engine::open(source);
    ASSERT_NE(opened.session, nullptr) << opened.message;
    const flenn_info &info = *flenn_session_get_info(opened.session.get());

    flenn_settings settings = engine::losslessSettings();
    settings.scan = info.is_progressive ? FLENN_SCAN_PROGRESSIVE : FLENN_SCAN_COUNTED;
    engine::Written written = engine::write(opened.session.get(), settings);
    ASSERT_EQ(written.status, FLENN_OK) << written.message;

    engine::Opened rewritten = engine::open(written.data);
    ASSERT_NE(rewritten.session, nullptr) << rewritten.message;
    flenn_comparison comparison{};
    ASSERT_EQ(flenn_session_compare(opened.session.get(), rewritten.session.get(), &comparison), 0);
    EXPECT_EQ(comparison.luma_ac_differing, 0);
    EXPECT_EQ(comparison.chroma_differing, 0);
    EXPECT_EQ(comparison.dc_differing, 0);
    const flenn_info &after = *flenn_session_get_info(rewritten.session.get());
    EXPECT_EQ(std::memcmp(info.quant, after.quant, sizeof info.quant), 0);
    EXPECT_EQ(after.is_progressive, info.is_progressive);
    EXPECT_EQ(fixtures::decode(written.data), fixtures::decode(source));

    // Huffman coded, without restart intervals, and no comment of its own.
    std::vector<int> codes = markerCodes(written.data);
    EXPECT_TRUE(has(codes, info.is_progressive ? 0xC2 : 0xC0));
    EXPECT_FALSE(has(codes, 0xDD));
    EXPECT_FALSE(has(codes, 0xFE));
}

INSTANTIATE_TEST_SUITE_P(Sources, LosslessRewrite, testing::ValuesIn(sources()),
                         [](const auto &info) { return std::string(info.param.name); });

// Counting symbols while the blocks pass by must give exactly the tables that the library's
// own two-pass optimization builds, so the bytes are identical.
class CountedTables : public testing::TestWithParam<Source> {};

TEST_P(CountedTables, EqualTheLibrarysTwoPassOptimization) {
    engine::Opened opened = engine::open(fixtures::jpeg(GetParam().options));
    ASSERT_NE(opened.session, nullptr) << opened.message;
    struct Variant {
        int luma, deadzone, columns, rows, tile;
    };
    for (Variant v : {Variant{100, 0, 0, 0, 0}, Variant{180, 15, 0, 0, 0}, Variant{100, 0, 2, 1, 16},
                      Variant{250, 0, 1, 2, 16}}) {
        flenn_settings settings = engine::losslessSettings();
        settings.luma = settings.chroma = v.luma;
        settings.deadzone = v.deadzone;
        settings.sample_columns = v.columns;
        settings.sample_rows = v.rows;
        settings.tile_pixels = v.tile;
        engine::Written counted = engine::write(opened.session.get(), settings);
        settings.scan = FLENN_SCAN_OPTIMIZED;
        engine::Written library = engine::write(opened.session.get(), settings);
        if (library.status == FLENN_SAMPLE_TOO_SMALL) {
            EXPECT_EQ(counted.status, FLENN_SAMPLE_TOO_SMALL);
            continue;
        }
        ASSERT_EQ(counted.status, FLENN_OK) << counted.message;
        ASSERT_EQ(library.status, FLENN_OK) << library.message;
        EXPECT_EQ(counted.data, library.data) << "luma " << v.luma << " sample " << v.columns;
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, CountedTables, testing::ValuesIn(sources()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(CountedTables, BeatStandardTablesOnACameraLikeFile) {
    engine::Opened opened = engine::open(fixtures::jpeg({.width = 256, .height = 192}));
    ASSERT_NE(opened.session, nullptr);
    flenn_settings settings = engine::losslessSettings();
    engine::Written counted = engine::write(opened.session.get(), settings);
    settings.scan = FLENN_SCAN_STANDARD;
    engine::Written standard = engine::write(opened.session.get(), settings);
    ASSERT_EQ(counted.status, FLENN_OK);
    ASSERT_EQ(standard.status, FLENN_OK);
    EXPECT_LT(counted.data.size(), standard.data.size());
}

const std::string iccData = std::string("ICC_PROFILE\0\x01\x01", 14) + "profile";

std::vector<Segment> mixedSegments() {
    return {{JPEG_APP0 + 1, "Exif\0\0MM"}, {JPEG_APP0 + 2, iccData}, {JPEG_COM, "a note"},
            {JPEG_APP0 + 2, "ICC_PROFIL"}, {JPEG_APP0 + 13, "Photoshop 3.0"}};
}

struct MarkersCase {
    const char *name;
    int markers;
    bool lossy;
    const char *comment;
    std::vector<int> expected; // marker codes before the frame header
};

void PrintTo(const MarkersCase &c, std::ostream *out) { *out << c.name; }

class SegmentCopy : public testing::TestWithParam<MarkersCase> {};

TEST_P(SegmentCopy, CopiesTheChosenSegmentsInSourceOrder) {
    const MarkersCase &c = GetParam();
    engine::Opened opened = engine::open(fixtures::jpeg({.segments = mixedSegments()}));
    ASSERT_NE(opened.session, nullptr);
    flenn_settings settings = engine::losslessSettings();
    settings.markers = c.markers;
    settings.comment = c.comment;
    if (c.lossy)
        settings.luma = settings.chroma = 150;
    engine::Written written = engine::write(opened.session.get(), settings);
    ASSERT_EQ(written.status, FLENN_OK) << written.message;
    std::vector<int> codes = markerCodes(written.data);
    std::vector<int> leading;
    for (int code : codes) {
        if (code == 0xDB || code == 0xC0 || code == 0xC4)
            break;
        leading.push_back(code);
    }
    EXPECT_EQ(leading, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Markers, SegmentCopy,
    testing::Values(
        MarkersCase{"All", FLENN_MARKERS_ALL, false, nullptr, {0xE0, 0xE1, 0xE2, 0xFE, 0xE2, 0xED}},
        MarkersCase{"AllWithComment", FLENN_MARKERS_ALL, true, "Flenned",
                    {0xE0, 0xE1, 0xE2, 0xFE, 0xE2, 0xED, 0xFE}},
        MarkersCase{"ColorProfileOnly", FLENN_MARKERS_ICC, false, nullptr, {0xE2}},
        MarkersCase{"None", FLENN_MARKERS_NONE, false, nullptr, {}},
        // Without any copied segment a commented file starts with a JFIF header.
        MarkersCase{"NoneWithComment", FLENN_MARKERS_NONE, true, "Flenned", {0xE0, 0xFE}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(SegmentCopy, KeepsTheIccProfileBytes) {
    engine::Opened opened = engine::open(fixtures::jpeg({.segments = mixedSegments()}));
    flenn_settings settings = engine::losslessSettings();
    settings.markers = FLENN_MARKERS_ICC;
    engine::Written written = engine::write(opened.session.get(), settings);
    ASSERT_EQ(written.status, FLENN_OK);
    std::string bytes(written.data.begin(), written.data.end());
    EXPECT_NE(bytes.find(iccData), std::string::npos);
    EXPECT_EQ(bytes.find("Exif"), std::string::npos);
}

struct Invalid {
    const char *name;
    void (*change)(flenn_settings &);
    const char *sentence;
};

void PrintTo(const Invalid &c, std::ostream *out) { *out << c.name; }

class Validation : public testing::TestWithParam<Invalid> {};

TEST_P(Validation, RejectsSettingsOutOfRange) {
    engine::Opened opened = engine::open(fixtures::jpeg());
    flenn_settings settings = engine::losslessSettings();
    GetParam().change(settings);
    engine::Written written = engine::write(opened.session.get(), settings);
    EXPECT_EQ(written.status, FLENN_REJECTED);
    EXPECT_EQ(written.message, GetParam().sentence);
    EXPECT_TRUE(written.data.empty());
}

const char *const settingsOut = "Compression settings out of range";
const char *const sampleOut = "Sample settings out of range";

INSTANTIATE_TEST_SUITE_P(
    Settings, Validation,
    testing::Values(
        Invalid{"Luma99", [](flenn_settings &s) { s.luma = 99; }, settingsOut},
        Invalid{"Chroma1601", [](flenn_settings &s) { s.chroma = 1601; }, settingsOut},
        Invalid{"Standard9001", [](flenn_settings &s) { s.standard = 1, s.luma = 9001; }, settingsOut},
        Invalid{"Tilt201", [](flenn_settings &s) { s.tilt = 201; }, settingsOut},
        Invalid{"Deadzone46", [](flenn_settings &s) { s.deadzone = 46; }, settingsOut},
        Invalid{"NegativeDeadzone", [](flenn_settings &s) { s.deadzone = -1; }, settingsOut},
        Invalid{"Scan4", [](flenn_settings &s) { s.scan = 4; }, settingsOut},
        Invalid{"Markers3", [](flenn_settings &s) { s.markers = 3; }, settingsOut},
        Invalid{"MatchedNaN", [](flenn_settings &s) { s.matched_luma = std::nan(""); }, settingsOut},
        Invalid{"MatchedAbove8", [](flenn_settings &s) { s.matched_chroma = 8.5; }, settingsOut},
        Invalid{"CutAbove4", [](flenn_settings &s) { s.matched_cut = 4.5; }, settingsOut},
        Invalid{"NegativeColumns", [](flenn_settings &s) { s.sample_columns = -1; }, sampleOut},
        Invalid{"Columns4097", [](flenn_settings &s) { s.sample_columns = 4097, s.sample_rows = 1, s.tile_pixels = 16; }, sampleOut},
        Invalid{"ZeroRows", [](flenn_settings &s) { s.sample_columns = 2, s.sample_rows = 0, s.tile_pixels = 16; }, sampleOut},
        Invalid{"Tile15", [](flenn_settings &s) { s.sample_columns = 2, s.sample_rows = 2, s.tile_pixels = 15; }, sampleOut}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Validation, AcceptsExplicitTablesWhateverTheScales) {
    engine::Opened opened = engine::open(fixtures::jpeg());
    std::uint16_t table[64];
    std::fill(std::begin(table), std::end(table), 40);
    flenn_settings settings = engine::losslessSettings();
    settings.luma = settings.chroma = 5;
    settings.luma_table = settings.chroma_table = table;
    engine::Written written = engine::write(opened.session.get(), settings);
    ASSERT_EQ(written.status, FLENN_OK) << written.message;
    engine::Opened reopened = engine::open(written.data);
    EXPECT_EQ(flenn_session_get_info(reopened.session.get())->quant[0][63], 40);
}

TEST(Requantized, WritesTheDerivedTablesAndCoarserCoefficients) {
    Bytes source = fixtures::jpeg({.width = 128, .height = 96, .quality = 95});
    engine::Opened opened = engine::open(source);
    flenn_settings settings = engine::losslessSettings();
    settings.luma = 200;
    settings.chroma = 300;
    engine::Written written = engine::write(opened.session.get(), settings);
    ASSERT_EQ(written.status, FLENN_OK) << written.message;
    engine::Opened rewritten = engine::open(written.data);
    const flenn_info &before = *flenn_session_get_info(opened.session.get());
    const flenn_info &after = *flenn_session_get_info(rewritten.session.get());
    for (int k = 0; k < 64; k++) {
        EXPECT_EQ(after.quant[0][k], std::max<int>(before.quant[0][k], std::min(255, 2 * before.quant[0][k])));
        EXPECT_EQ(after.quant[1][k], std::max<int>(before.quant[1][k], std::min(255, 3 * before.quant[1][k])));
    }
    flenn_comparison comparison{};
    ASSERT_EQ(flenn_session_compare(opened.session.get(), rewritten.session.get(), &comparison), 0);
    EXPECT_GT(comparison.luma_ac_differing, 0);
    EXPECT_LT(comparison.luma_ac_nonzero_other, comparison.luma_ac_nonzero);
    EXPECT_LT(written.data.size(), source.size());
}

TEST(Sample, CutsEvenlySpreadTilesOfWholeBlocks) {
    // 2048 × 1536 in 4:2:0 (16 × 16 MCUs), 3 × 2 tiles of 512 pixels: tiles of 32 × 32 MCUs.
    engine::Opened opened = engine::open(fixtures::jpeg({.width = 2048, .height = 1536, .quality = 80}));
    ASSERT_NE(opened.session, nullptr);
    flenn_settings settings = engine::losslessSettings();
    settings.sample_columns = 3;
    settings.sample_rows = 2;
    settings.tile_pixels = 512;
    engine::Written written = engine::write(opened.session.get(), settings);
    ASSERT_EQ(written.status, FLENN_OK) << written.message;
    engine::Opened sample = engine::open(written.data);
    EXPECT_EQ(flenn_session_get_info(sample.session.get())->width, 1536u);
    EXPECT_EQ(flenn_session_get_info(sample.session.get())->height, 1024u);
}

TEST(Sample, TilesAreCopiedPixelForPixel) {
    // 4:4:4 decodes every block on its own, so a copied tile shows exactly the source's pixels.
    // 200 × 120: 25 × 15 MCUs; 2 × 2 tiles of 24 pixels are 3 × 3 MCUs, placed at MCU columns
    // floor((c + 0.5) × 22 / 2) = 5, 16 and rows floor((r + 0.5) × 12 / 2) = 3, 9.
    Bytes source = fixtures::jpeg({.width = 200, .height = 120, .hSampling = 1, .vSampling = 1});
    engine::Opened opened = engine::open(source);
    flenn_settings settings = engine::losslessSettings();
    settings.sample_columns = 2;
    settings.sample_rows = 2;
    settings.tile_pixels = 24;
    engine::Written written = engine::write(opened.session.get(), settings);
    ASSERT_EQ(written.status, FLENN_OK) << written.message;
    fixtures::Pixels whole = fixtures::decode(source), tiles = fixtures::decode(written.data);
    ASSERT_EQ(tiles.width, 48);
    ASSERT_EQ(tiles.height, 48);
    const int columnStart[] = {5 * 8, 16 * 8}, rowStart[] = {3 * 8, 9 * 8};
    for (int y = 0; y < 48; y++)
        for (int x = 0; x < 48; x++)
            for (int c = 0; c < 3; c++) {
                int sy = rowStart[y / 24] + y % 24, sx = columnStart[x / 24] + x % 24;
                ASSERT_EQ(tiles.samples[(y * 48 + x) * 3 + c], whole.samples[(sy * 200 + sx) * 3 + c])
                    << "at " << x << "," << y;
            }
}

TEST(Sample, RefusesAPhotoWithTooFewWholeBlocks) {
    engine::Opened opened = engine::open(fixtures::jpeg({.width = 1000, .height = 600, .quality = 50}));
    flenn_settings settings = engine::losslessSettings();
    settings.sample_columns = 3;
    settings.sample_rows = 2;
    settings.tile_pixels = 512;
    engine::Written written = engine::write(opened.session.get(), settings);
    EXPECT_EQ(written.status, FLENN_SAMPLE_TOO_SMALL);
    EXPECT_EQ(written.message, "The image is too small to sample");
    // The session stays usable after a refused write.
    EXPECT_EQ(engine::write(opened.session.get(), engine::losslessSettings()).status, FLENN_OK);
}

} // namespace
} // namespace flenn
