#include <gtest/gtest.h>

#include <jpeglib.h>

#include "CodecError.h"
#include "Compressor.h"
#include "Fixtures.h"
#include "Sentences.h"

namespace flenn {
namespace {

using fixtures::Color;

// A camera-like file: standard Huffman tables leave room for a repack.
Bytes cameraLike(int width = 320, int height = 240) {
    return fixtures::jpeg({.width = width, .height = height, .quality = 92});
}

Bytes padded(const Bytes &jpeg, std::size_t count, std::uint8_t byte = 0x00) {
    return fixtures::concatenated({jpeg, Bytes(std::vector<std::uint8_t>(count, byte))});
}

TEST(Plan, RepacksACameraLikeFileLosslessly) {
    Bytes source = cameraLike();
    Compressor::Plan plan = Compressor::plan(source, Preset::lossless());
    ASSERT_TRUE(plan.output);
    EXPECT_EQ(plan.result.outcome, Outcome::lossless);
    EXPECT_EQ(plan.result.before, std::int64_t(source.size()));
    EXPECT_EQ(plan.result.after, std::int64_t(plan.output->size()));
    EXPECT_LT(plan.result.after, plan.result.before);
    EXPECT_EQ(plan.result.score, 100);
    EXPECT_EQ(plan.result.settings, RequantSettings::lossless);
    EXPECT_FALSE(plan.result.note);
    EXPECT_EQ(fixtures::decode(*plan.output), fixtures::decode(source));
}

struct CopyCase {
    const char *name;
    Bytes source;
    std::string_view note;
    bool beforeTheLossyStep = true; // copied whatever the preset; else under "lossless"
};

void PrintTo(const CopyCase &c, std::ostream *out) { *out << c.name; }

class PlanCopies : public testing::TestWithParam<CopyCase> {};

TEST_P(PlanCopies, LeavesTheBytesWithItsNote) {
    const CopyCase &c = GetParam();
    for (const Preset &preset : Preset::all()) {
        if (!c.beforeTheLossyStep && !preset.isLossless())
            continue;
        Compressor::Plan plan = Compressor::plan(c.source, preset);
        EXPECT_FALSE(plan.output) << preset.id;
        EXPECT_EQ(plan.result.outcome, Outcome::copied);
        EXPECT_EQ(plan.result.before, std::int64_t(c.source.size()));
        EXPECT_EQ(plan.result.after, plan.result.before);
        EXPECT_EQ(plan.result.score, 100);
        EXPECT_FALSE(plan.result.settings);
        EXPECT_EQ(plan.result.note.value_or(""), c.note) << preset.id;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, PlanCopies,
    testing::Values(
        CopyCase{"CMYK", fixtures::jpeg({.color = Color::cmyk, .optimized = false}), Sentences::otherColorFormat},
        CopyCase{"AdobeRGB", fixtures::jpeg({.color = Color::rgb}), Sentences::otherColorFormat},
        CopyCase{"ExtraData", fixtures::concatenated({cameraLike(), Bytes::copying("\0\xFFtrailer", 9)}),
                 Sentences::extraDataAfterPicture},
        // Already optimal: a repack gains nothing, so the photo stays.
        CopyCase{"AlreadyOptimal", fixtures::jpeg({.width = 64, .height = 64, .optimized = true}), "", false},
        CopyCase{"OwnOutput",
                 fixtures::jpeg({.width = 64, .height = 64, .optimized = true, .segments = {{JPEG_COM, "Flenned"}}}),
                 Sentences::alreadyOptimized}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Plan, DropsZeroAndFFPaddingAfterThePicture) {
    Bytes photo = cameraLike();
    for (std::uint8_t byte : {0x00, 0xFF}) {
        Bytes source = padded(photo, 5000, byte);
        Compressor::Plan plan = Compressor::plan(source, Preset::lossless());
        ASSERT_TRUE(plan.output);
        EXPECT_EQ(plan.result.before, std::int64_t(source.size()));
        EXPECT_EQ(Compressor::plan(photo, Preset::lossless()).output, plan.output) << "padding dropped";
    }
}

TEST(Plan, RepacksAnOwnOutputWithItsNote) {
    Bytes source = fixtures::jpeg({.width = 320, .height = 240, .segments = {{JPEG_COM, "Flenned"}}});
    for (const Preset &preset : Preset::all()) {
        Compressor::Plan plan = Compressor::plan(source, preset);
        ASSERT_TRUE(plan.output) << preset.id;
        EXPECT_EQ(plan.result.outcome, Outcome::lossless);
        EXPECT_EQ(plan.result.note, std::string(Sentences::alreadyOptimized));
    }
}

// Padding is dropped from the output, so it counts as saved bytes: it tunes the saving exactly.
std::int64_t repackSize(const Bytes &photo) {
    Compressor::Plan plan = Compressor::plan(photo, Preset::lossless());
    return plan.output ? std::int64_t(plan.output->size()) : -1;
}

TEST(Plan, RepackMustSaveAtLeast1024BytesOfASmallFile) {
    Bytes photo = fixtures::jpeg({.width = 48, .height = 48, .quality = 80, .optimized = true});
    std::int64_t gain = std::int64_t(photo.size()) - repackSize(padded(photo, 4096));
    ASSERT_LT(gain, 1023) << "the fixture must need padding to pay";
    Compressor::Plan short1 = Compressor::plan(padded(photo, std::size_t(1023 - gain)), Preset::lossless());
    EXPECT_EQ(short1.result.outcome, Outcome::copied);
    Compressor::Plan enough = Compressor::plan(padded(photo, std::size_t(1024 - gain)), Preset::lossless());
    EXPECT_EQ(enough.result.outcome, Outcome::lossless);
    EXPECT_EQ(enough.result.before - enough.result.after, 1024);
}

TEST(Plan, RepackOfALargeFileMustSaveOnePercent) {
    Bytes photo = fixtures::jpeg({.width = 640, .height = 480, .quality = 97, .optimized = true});
    const auto n = std::int64_t(photo.size());
    ASSERT_GT(n, 110000) << "the fixture must be large enough for the one-percent rule";
    std::int64_t gain = n - repackSize(padded(photo, 200000));
    // The least padding p with 100 × (gain + p) >= n + p, that is a saving of one percent.
    std::int64_t p = 0;
    while (100 * (gain + p) < n + p)
        p++;
    ASSERT_GE(gain + p - 1, 1024) << "one byte less must still pass the 1,024-byte rule";
    EXPECT_EQ(Compressor::plan(padded(photo, std::size_t(p - 1)), Preset::lossless()).result.outcome,
              Outcome::copied);
    EXPECT_EQ(Compressor::plan(padded(photo, std::size_t(p)), Preset::lossless()).result.outcome,
              Outcome::lossless);
}

TEST(Plan, UnreadableFilesFailWithTheSessionsSentence) {
    try {
        Compressor::plan(Bytes::copying("not a jpeg at all"), Preset::compact());
        FAIL() << "a text file was planned";
    } catch (const CodecError &error) {
        EXPECT_EQ(error.message().rfind("Not a JPEG file", 0), 0u) << error.message();
    }
}

} // namespace
} // namespace flenn
