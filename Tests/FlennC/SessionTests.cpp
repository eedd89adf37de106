#include <gtest/gtest.h>

#include <jpeglib.h>

#include "EngineSupport.h"
#include "Fixtures.h"
#include "internal.h"

namespace flenn {
namespace {

using fixtures::Color;
using fixtures::JPEGOptions;

const std::string damaged = "This JPEG is damaged. Export it again from your editor or camera.";

std::size_t offsetOf(const Bytes &jpeg, int marker) {
    for (auto [code, offset] : fixtures::headerMarkers(jpeg))
        if (code == marker)
            return offset;
    ADD_FAILURE() << "marker " << marker << " not found";
    return 0;
}

// The frame header with other dimensions or precision, as a damaged or exotic file would have.
Bytes withFrame(const Bytes &jpeg, int precision, unsigned width, unsigned height) {
    std::vector<std::uint8_t> bytes(jpeg.begin(), jpeg.end());
    std::size_t sof = offsetOf(jpeg, 0xC0);
    bytes[sof + 4] = std::uint8_t(precision);
    bytes[sof + 5] = std::uint8_t(height >> 8);
    bytes[sof + 6] = std::uint8_t(height);
    bytes[sof + 7] = std::uint8_t(width >> 8);
    bytes[sof + 8] = std::uint8_t(width);
    return Bytes(std::move(bytes));
}

// A sequential file that codes each component in its own scan, cut before the last scan:
// the third component never receives image data.
Bytes withoutLastScan() {
    Bytes whole = fixtures::jpeg({.width = 16, .height = 16, .hSampling = 1, .vSampling = 1, .scanPerComponent = true});
    std::vector<std::uint8_t> bytes(whole.begin(), whole.end());
    std::size_t sos = 0;
    int seen = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i++)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA && ++seen == 3) {
            sos = i;
            break;
        }
    bytes.resize(sos);
    bytes.insert(bytes.end(), {0xFF, 0xD9});
    return Bytes(std::move(bytes));
}

struct Refusal {
    const char *name;
    Bytes data;
    std::string sentence; // exact, or a prefix when `prefix` is set
    bool prefix = false;
};

void PrintTo(const Refusal &c, std::ostream *out) { *out << c.name; }

class OpenRefuses : public testing::TestWithParam<Refusal> {};

TEST_P(OpenRefuses, WithItsSentenceAndNothingOpen) {
    const Refusal &refusal = GetParam();
    engine::Opened opened = engine::open(refusal.data);
    EXPECT_EQ(opened.session, nullptr);
    if (refusal.prefix)
        EXPECT_EQ(opened.message.substr(0, refusal.sentence.size()), refusal.sentence);
    else
        EXPECT_EQ(opened.message, refusal.sentence);
}

std::vector<Refusal> refusals() {
    Bytes photo = fixtures::jpeg({.width = 96, .height = 64});
    const std::uint8_t png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    return {
        {"Empty", Bytes(), "Empty input"},
        {"PNG", Bytes::copying(png, sizeof png), "Not a JPEG file: starts with 0x89 0x50"},
        {"TruncatedEarlyInScan", photo.prefix(photo.size() * 4 / 10), damaged},
        {"TruncatedMidScan", photo.prefix(photo.size() * 7 / 10), damaged},
        {"TruncatedBeforeEnd", photo.prefix(photo.size() - 3), damaged},
        {"TooLarge", withFrame(photo, 8, 20001, 20000), "The image is too large"},
        {"TwelveBit", withFrame(photo, 12, 96, 64), "Unsupported JPEG data precision 12"},
        {"ComponentNeverScanned", withoutLastScan(), "A color channel has no image data"},
    };
}

INSTANTIATE_TEST_SUITE_P(BadInput, OpenRefuses, testing::ValuesIn(refusals()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(OpenLimit, AcceptsExactlyFourHundredMillionPixels) {
    EXPECT_FALSE(flenn_is_too_large(20000, 20000));
    EXPECT_TRUE(flenn_is_too_large(20001, 20000));
    EXPECT_TRUE(flenn_is_too_large(4294967295.0, 4294967295.0)); // no integer overflow
}

TEST(OpenInfo, DescribesGeometryTablesAndSampling) {
    Bytes photo = fixtures::jpeg({.width = 70, .height = 33, .quality = 75, .hSampling = 2, .vSampling = 1});
    engine::Opened opened = engine::open(photo);
    ASSERT_NE(opened.session, nullptr) << opened.message;
    const flenn_info &info = *flenn_session_get_info(opened.session.get());
    EXPECT_EQ(info.width, 70u);
    EXPECT_EQ(info.height, 33u);
    EXPECT_EQ(info.components, 3);
    EXPECT_EQ(info.is_simple, 1);
    EXPECT_EQ(info.is_progressive, 0);
    EXPECT_EQ(info.h_samp[0], 2);
    EXPECT_EQ(info.v_samp[0], 1);
    EXPECT_EQ(info.h_samp[1], 1);
    EXPECT_EQ(info.h_samp[3], 0);
    // Quality 75 scales the standard luma table's first entry 16 to 8; natural order.
    EXPECT_EQ(info.quant[0][0], 8);
    EXPECT_EQ(info.quant[0][1], 6);  // 11 × 0.5 rounded
    EXPECT_EQ(info.quant[0][8], 6);  // 12 × 0.5
    EXPECT_EQ(info.quant[1][0], 9);  // chroma 17 × 0.5 rounded
    EXPECT_EQ(info.quant[1][0], info.quant[2][0]);
    EXPECT_EQ(info.quant[3][0], 0);
    EXPECT_EQ(info.bytes_consumed, std::int64_t(photo.size()));
}

struct ColorCase {
    const char *name;
    Color color;
    int components;
    bool simple;
};

void PrintTo(const ColorCase &c, std::ostream *out) { *out << c.name; }

class OpenColor : public testing::TestWithParam<ColorCase> {};

TEST_P(OpenColor, TellsWhetherThePipelineMayRewriteIt) {
    const ColorCase &c = GetParam();
    engine::Opened opened = engine::open(fixtures::jpeg({.color = c.color, .hSampling = 1, .vSampling = 1}));
    ASSERT_NE(opened.session, nullptr) << opened.message;
    const flenn_info &info = *flenn_session_get_info(opened.session.get());
    EXPECT_EQ(info.components, c.components);
    EXPECT_EQ(info.is_simple, c.simple ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Colors, OpenColor,
                         testing::Values(ColorCase{"Grey", Color::grey, 1, true},
                                         ColorCase{"YCbCr", Color::ycbcr, 3, true},
                                         ColorCase{"AdobeRGB", Color::rgb, 3, false},
                                         ColorCase{"CMYK", Color::cmyk, 4, false}),
                         [](const auto &info) { return std::string(info.param.name); });

struct SegmentCase {
    const char *name;
    std::vector<fixtures::Segment> segments;
    bool multiPicture;
    bool alreadyOptimized;
};

void PrintTo(const SegmentCase &c, std::ostream *out) { *out << c.name; }

class OpenSegments : public testing::TestWithParam<SegmentCase> {};

TEST_P(OpenSegments, RecognisesMultiPictureIndexAndOwnSignature) {
    const SegmentCase &c = GetParam();
    Bytes photo = fixtures::jpeg({.segments = c.segments});
    engine::Opened opened = engine::open(photo);
    ASSERT_NE(opened.session, nullptr) << opened.message;
    const flenn_info &info = *flenn_session_get_info(opened.session.get());
    EXPECT_EQ(info.is_multi_picture, c.multiPicture ? 1 : 0);
    EXPECT_EQ(info.is_already_optimized, c.alreadyOptimized ? 1 : 0);
    std::int64_t expected = 14 + 4; // the JFIF header the fixture writes
    for (const auto &segment : c.segments)
        expected += std::int64_t(segment.data.size()) + 4;
    EXPECT_EQ(info.marker_bytes, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Segments, OpenSegments,
    testing::Values(
        SegmentCase{"Plain", {}, false, false},
        SegmentCase{"MPFIndex", {{JPEG_APP0 + 2, std::string("MPF\0II*\0", 8)}}, true, false},
        SegmentCase{"MPFTooShort", {{JPEG_APP0 + 2, "MPF"}}, false, false},
        SegmentCase{"MPFInAnotherSegment", {{JPEG_APP0 + 1, std::string("MPF\0", 4)}}, false, false},
        SegmentCase{"Signature", {{JPEG_COM, "Flenned"}}, false, true},
        SegmentCase{"SignatureWithMore", {{JPEG_COM, "Flenned 1.0"}}, false, true},
        SegmentCase{"SignatureCut", {{JPEG_COM, "Flen"}}, false, false},
        SegmentCase{"OtherOptimizer", {{JPEG_COM, "Optimized by Ostrel"}}, false, true},
        SegmentCase{"OtherOptimizerCut", {{JPEG_COM, "Optimized by Ostr"}}, false, false},
        SegmentCase{"SignatureNotAtStart", {{JPEG_COM, "Made by Flenned"}}, false, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(OpenTrailingData, EndsBytesConsumedAtTheEndOfTheImage) {
    Bytes photo = fixtures::jpeg();
    Bytes longer = fixtures::concatenated({photo, Bytes::copying("extra bytes")});
    engine::Opened opened = engine::open(longer);
    ASSERT_NE(opened.session, nullptr) << opened.message;
    EXPECT_EQ(flenn_session_get_info(opened.session.get())->bytes_consumed, std::int64_t(photo.size()));
}

} // namespace
} // namespace flenn
