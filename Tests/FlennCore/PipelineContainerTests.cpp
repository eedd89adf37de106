#include <gtest/gtest.h>

#include <flenn.h>

#include "Compressor.h"
#include "ContainerSupport.h"
#include "JPEGSession.h"
#include "MultiPicture.h"
#include "Sentences.h"

namespace flenn {
namespace {

using container::MultiPictureLayout;
using container::Picture;

// A copy with the standard Huffman tables and every segment kept, as a camera would write it, so
// that a repack pays and the credential repair runs.
Bytes unoptimized(const Bytes &jpeg) {
    flenn_session *session = nullptr;
    EXPECT_EQ(flenn_session_open(jpeg.data(), jpeg.size(), &session, nullptr, 0), 0);
    flenn_settings settings{};
    settings.luma = settings.chroma = 100;
    settings.scan = FLENN_SCAN_STANDARD;
    std::uint8_t *data = nullptr;
    std::size_t size = 0;
    EXPECT_EQ(flenn_session_write(session, &settings, &data, &size, nullptr, 0), 0);
    flenn_session_close(session);
    return Bytes::adoptingMalloced(data, size);
}

struct CredentialCase {
    const char *name;
    std::string fixture;
    std::string_view note;
    std::string sourceType; // as the output's XMP declares it
};

void PrintTo(const CredentialCase &c, std::ostream *out) { *out << c.name; }

class PipelineCredentials : public testing::TestWithParam<CredentialCase> {};

TEST_P(PipelineCredentials, RemovesTheBrokenCredentialAndKeepsItsSourceType) {
    if (!container::exiftoolAvailable())
        GTEST_SKIP() << "exiftool is not installed";
    const CredentialCase &c = GetParam();
    Bytes source = unoptimized(container::fixture("c2pa/" + c.fixture));
    Compressor::Plan plan = Compressor::plan(source, Preset::lossless());
    ASSERT_TRUE(plan.output);
    EXPECT_EQ(plan.result.outcome, Outcome::lossless);
    EXPECT_EQ(plan.result.note.value_or(""), c.note);
    EXPECT_EQ(container::exiftool("-JUMBF:all", *plan.output), "");
    EXPECT_EQ(container::exiftool("-s3 -XMP-iptcExt:DigitalSourceType", *plan.output), c.sourceType);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, PipelineCredentials,
    testing::Values(
        CredentialCase{"AlgorithmicMedia", "C.jpg", Sentences::credentialRemoved,
                       "http://cv.iptc.org/newscodes/digitalsourcetype/algorithmicMedia\n"},
        CredentialCase{"TrainedAlgorithmicMedia", "ocsp.jpg", Sentences::credentialRelabelled,
                       "http://cv.iptc.org/newscodes/digitalsourcetype/trainedAlgorithmicMedia\n"},
        CredentialCase{"NoSourceType", "CA.jpg", Sentences::credentialRemoved, ""}),
    [](const auto &info) { return std::string(info.param.name); });

// A primary with the standard Huffman tables, large enough for a repack to pay.
const fixtures::JPEGOptions cameraPrimary = {.width = 320, .height = 240, .quality = 92};

TEST(PipelineMultiPicture, RepacksThePrimaryAndKeepsEveryPictureAfterIt) {
    Bytes second = container::preview(1), third = container::preview(2);
    for (bool littleEndian : {true, false}) {
        container::BuiltFile built = container::multiPictureFile(
            {.littleEndian = littleEndian,
             .following = {{container::thumbnailVGA, second}, {container::disparityImage, third}},
             .primary = cameraPrimary});
        Compressor::Plan plan = Compressor::plan(built.file, Preset::compact());
        ASSERT_TRUE(plan.output);
        EXPECT_EQ(plan.result.outcome, Outcome::lossless);
        std::optional<MultiPicture> split = MultiPicture::file(*plan.output);
        ASSERT_TRUE(split) << "the output's index describes the output";
        EXPECT_EQ(split->trailing, fixtures::concatenated({second, third}));
        EXPECT_EQ(fixtures::decode(split->primary), fixtures::decode(built.primary));
        if (container::exiftoolAvailable()) {
            EXPECT_EQ(container::exiftool("-b -MPImage2:PreviewImage", *plan.output),
                      std::string(second.begin(), second.end()));
        }
    }
}

TEST(PipelineMultiPicture, CompactDropsPreviewsButNeverOtherPictures) {
    container::BuiltFile previews = container::multiPictureFile(
        {.following = {{container::thumbnailVGA, container::preview(1)}, {container::thumbnailFullHD, container::preview(2)}},
         .primary = cameraPrimary});
    Compressor::Plan dropped = Compressor::plan(previews.file, Preset::compact());
    ASSERT_TRUE(dropped.output);
    EXPECT_FALSE(JPEGSession(*dropped.output).info().isMultiPicture);
    EXPECT_EQ(fixtures::decode(*dropped.output), fixtures::decode(previews.primary));
    EXPECT_EQ(dropped.output->size(), std::size_t(dropped.result.after));

    Compressor::Plan kept = Compressor::plan(previews.file, Preset::lossless());
    ASSERT_TRUE(kept.output);
    EXPECT_TRUE(MultiPicture::file(*kept.output)) << "only the reference-table preset drops previews";
}

TEST(PipelineMultiPicture, CopiesWhatTheRebuildCouldNotCarry) {
    container::BuiltFile built = container::multiPictureFile({.following = {{container::thumbnailVGA, container::preview(1)}}});
    // Unlisted bytes between the primary and the preview, with the index moved past them.
    const std::string gap = "maker data";
    Bytes shifted = container::inserted(built.file, built.starts[0], Bytes::copying(gap));
    std::size_t record = built.header + container::entryTableAt + 16;
    shifted = container::with32(shifted, record + 8,
                                container::get32(shifted, record + 8, true) + std::uint32_t(gap.size()), true);

    struct Case {
        const char *name;
        Bytes file;
        std::string_view note;
    };
    for (const Case &c : {Case{"gap", shifted, Sentences::extraDataAfterPicture},
                          Case{"truncated index", container::fixture("mpf/truncated-index.jpg"),
                               Sentences::unreadableMultiPictureIndex}}) {
        Compressor::Plan plan = Compressor::plan(c.file, Preset::compact());
        EXPECT_FALSE(plan.output) << c.name;
        EXPECT_EQ(plan.result.outcome, Outcome::copied) << c.name;
        EXPECT_EQ(plan.result.note.value_or(""), c.note) << c.name;
    }
}

} // namespace
} // namespace flenn
