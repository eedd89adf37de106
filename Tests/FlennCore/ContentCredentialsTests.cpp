#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "ContainerSupport.h"
#include "ContentCredentials.h"
#include "JPEGSession.h"
#include "XMPLabel.h"

namespace flenn {
namespace {

using container::bigEndian;
using container::described;
using container::packet;
using ContentCredentials::Segment;

const std::string sourceTypes = "http://cv.iptc.org/newscodes/digitalsourcetype/";

std::string text(const std::vector<std::uint8_t> &bytes) {
    return {bytes.begin(), bytes.end()};
}

struct Built {
    Bytes jpeg;
    std::vector<Segment> app11; // in file order
};

Built withPackets(const std::vector<std::string> &payloads) {
    fixtures::JPEGOptions options;
    for (const std::string &payload : payloads)
        options.segments.push_back({0xEB, payload});
    Built built{fixtures::jpeg(options), {}};
    for (const Segment &segment : ContentCredentials::segments(built.jpeg.span()))
        if (segment.marker == 0xEB)
            built.app11.push_back(segment);
    return built;
}

TEST(ContentCredentialsSegments, AlsoEndAtMarkersThatCarryNoLength) {
    struct Case {
        const char *name;
        std::vector<int> bytes;
        std::size_t count;
    };
    const Case cases[] = {
        {"restart marker", {0xFF, 0xD8, 0xFF, 0xE0, 0, 2, 0xFF, 0xD0, 0, 2}, 1},
        {"start of image", {0xFF, 0xD8, 0xFF, 0xD8, 0, 2}, 0},
        {"temporary marker", {0xFF, 0xD8, 0xFF, 0x01, 0, 2}, 0},
        {"stuffed zero", {0xFF, 0xD8, 0xFF, 0x00, 0, 2}, 0},
        {"scan", {0xFF, 0xD8, 0xFF, 0xDB, 0, 2, 0xFF, 0xDA, 0, 2, 0xFF, 0xE0, 0, 2}, 1},
        {"fill bytes", {0xFF, 0xD8, 0xFF, 0xFF, 0xEB, 0, 2, 0xFF, 0xE0, 0, 2}, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes(c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(ContentCredentials::segments(bytes).size(), c.count);
    }
}

TEST(ContentCredentialsPackets, KeepOnlyThePacketsOfManifestStores) {
    const std::string head = described("c2pa", "HEAD");
    const std::string other = described("cacb", "OTHER");
    struct Case {
        const char *name;
        std::vector<std::string> payloads;
        std::vector<std::size_t> kept;
        std::optional<std::string> manifest;
    };
    const Case cases[] = {
        {"store over three packets",
         {packet(1, 1, 900, head), packet(1, 2, 900, "-two"), packet(1, 3, 900, "-three")},
         {0, 1, 2},
         bigEndian(900, 4) + "jumb" + head + "-two-three"},
        {"continuation with an extended box length",
         {packet(7, 1, 1, bigEndian(0, 4) + bigEndian(900, 4) + head),
          packet(7, 2, 1, bigEndian(0, 4) + bigEndian(900, 4) + "-tail")},
         {0, 1},
         bigEndian(1, 4) + "jumb" + bigEndian(0, 4) + bigEndian(900, 4) + head + "-tail"},
        {"another kind of box only",
         {packet(1, 1, 900, other), packet(1, 2, 900, "-more")},
         {},
         {}},
        {"instance number reused by another box",
         {packet(1, 1, 900, head), packet(1, 2, 900, "-two"), packet(1, 1, 900, other),
          packet(1, 2, 900, "-other")},
         {0, 1},
         bigEndian(900, 4) + "jumb" + head + "-two"},
        {"two stores around a foreign box",
         {packet(1, 1, 900, head), packet(2, 1, 900, other), packet(1, 2, 900, "-two"),
          packet(3, 1, 900, head), packet(2, 2, 900, "-other")},
         {0, 2, 3},
         {}},
        {"store mark ending at byte 40",
         {packet(1, 1, 900, std::string(12, 'x') + "jumdc2pa")},
         {0},
         {}},
        {"store mark reaching past byte 40",
         {packet(1, 1, 900, std::string(13, 'x') + "jumdc2pa")},
         {},
         {}},
        {"too short or not a JPEG XT packet",
         {"JP" + std::string(12, '\0'), "XP" + packet(1, 1, 900, head).substr(2),
          packet(4, 1, 900, head)},
         {2},
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Built built = withPackets(c.payloads);
        ASSERT_EQ(built.app11.size(), c.payloads.size());
        std::vector<Segment> expected;
        for (std::size_t i : c.kept)
            expected.push_back(built.app11[i]);
        auto all = ContentCredentials::segments(built.jpeg.span());
        auto credentials = ContentCredentials::credentialSegments(all, built.jpeg.span());
        EXPECT_EQ(credentials, expected);
        if (c.manifest) {
            EXPECT_EQ(text(ContentCredentials::manifest(credentials, built.jpeg.span())),
                      *c.manifest);
        }
    }
}

TEST(ContentCredentialsSourceType, PrefersTheAIMadeTypes) {
    const std::string plain = sourceTypes;
    const std::string secure = "https://cv.iptc.org/newscodes/digitalsourcetype/";
    struct Case {
        const char *name;
        std::string manifest;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"secure scheme is written as plain", "\xa1" + secure + "digitalArt\xff",
         plain + "digitalArt"},
        {"trained model beats composite", plain + "composite" + plain + "trainedAlgorithmicMedia",
         plain + "trainedAlgorithmicMedia"},
        {"longest term wins over its prefix", plain + "compositeCapture",
         plain + "compositeCapture"},
        {"composite with a trained model", plain + "compositeWithTrainedAlgorithmicMedia!",
         plain + "compositeWithTrainedAlgorithmicMedia"},
        {"otherwise the first one named", plain + "minorHumanEdits" + plain + "digitalCapture",
         plain + "minorHumanEdits"},
        {"unknown term", plain + "paintedByHand", std::nullopt},
        {"address at the very end", "xx" + plain, std::nullopt},
        {"no address", "trainedAlgorithmicMedia", std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes(c.manifest.begin(), c.manifest.end());
        EXPECT_EQ(ContentCredentials::sourceType(bytes), c.expected);
    }
}

struct RealFile {
    const char *name;
    std::size_t packets;
    std::optional<std::string> sourceType;
    std::uint8_t xmpAfter; // the marker of the segment the label's XMP segment follows
};

const RealFile realFiles[] = {
    {"c2pa/C.jpg", 1, sourceTypes + "algorithmicMedia", 0xE0},
    {"c2pa/ocsp.jpg", 5, sourceTypes + "trainedAlgorithmicMedia", 0xE1},
    {"c2pa/CA.jpg", 2, std::nullopt, 0},
    {"c2pa/no_manifest.jpg", 0, std::nullopt, 0},
    {"mpf/truncated-index.jpg", 0, std::nullopt, 0},
};

TEST(ContentCredentialsPackets, RealStoresReassembleToTheirDeclaredLength) {
    for (const RealFile &file : realFiles) {
        SCOPED_TRACE(file.name);
        Bytes jpeg = container::fixture(file.name);
        auto credentials = ContentCredentials::credentialSegments(
            ContentCredentials::segments(jpeg.span()), jpeg.span());
        ASSERT_EQ(credentials.size(), file.packets);
        std::vector<std::uint8_t> store = ContentCredentials::manifest(credentials, jpeg.span());
        EXPECT_EQ(ContentCredentials::sourceType(store), file.sourceType);
        if (file.packets == 0)
            continue;
        // The first packet's box header states the length of the whole reassembled box.
        ASSERT_GE(store.size(), 8u);
        std::uint32_t declared =
            std::uint32_t(store[0]) << 24 | store[1] << 16 | store[2] << 8 | store[3];
        EXPECT_EQ(declared, store.size());
        EXPECT_EQ(text({store.begin() + 4, store.begin() + 8}), "jumb");
    }
}

// The JPEG with every APP11 segment cut out, found by a plain marker walk.
Bytes withoutAPP11(const Bytes &jpeg) {
    std::vector<Bytes> parts;
    std::size_t kept = 0;
    for (auto [marker, at] : fixtures::headerMarkers(jpeg))
        if (marker == 0xEB) {
            parts.push_back(jpeg.slice(kept, at - kept));
            kept = at + 2 + (std::size_t(jpeg[at + 2]) << 8 | jpeg[at + 3]);
        }
    parts.push_back(jpeg.suffix(kept));
    return fixtures::concatenated(parts);
}

TEST(ContentCredentialsReplaceBroken, RewrittenRealFilesLoseTheCredentialAndKeepTheType) {
    if (!container::exiftoolAvailable())
        GTEST_SKIP() << "exiftool is not installed";
    for (const RealFile &file : realFiles) {
        SCOPED_TRACE(file.name);
        Bytes source = container::fixture(file.name);
        Bytes rewritten = JPEGSession(source).write(RequantSettings::lossless);
        std::optional<ContentCredentials::Replacement> replacement =
            ContentCredentials::replaceBroken(rewritten);
        if (file.packets == 0) {
            EXPECT_FALSE(replacement);
            continue;
        }
        // The rewrite is real, and it carried the now stale credential along.
        ASSERT_NE(rewritten, source);
        ASSERT_NE(container::exiftool("-JUMBF:all", rewritten), "");
        ASSERT_TRUE(replacement);
        EXPECT_EQ(replacement->declaredSourceType, file.sourceType);
        EXPECT_EQ(replacement->labelWritten, file.sourceType.has_value());

        const Bytes &repaired = replacement->data;
        EXPECT_EQ(container::exiftool("-JUMBF:all", repaired), "");
        EXPECT_EQ(container::exiftool("-s3 -XMP-iptcExt:DigitalSourceType", repaired),
                  file.sourceType ? *file.sourceType + "\n" : "");
        EXPECT_TRUE(fixtures::decode(repaired) == fixtures::decode(source));

        // Nothing else changed: without the new XMP segment it is the rewrite minus its APP11.
        Bytes expected = withoutAPP11(rewritten);
        Bytes withoutLabel = repaired;
        auto segments = ContentCredentials::segments(repaired.span());
        for (std::size_t i = 0; i < segments.size(); i++) {
            const Segment &s = segments[i];
            std::string_view payload(reinterpret_cast<const char *>(repaired.data()) +
                                         s.payloadStart(),
                                     s.range.end - s.payloadStart());
            if (s.marker != 0xE1 || !payload.starts_with(ContentCredentials::xmpSignature))
                continue;
            ASSERT_GT(i, 0u);
            EXPECT_EQ(segments[i - 1].marker, file.xmpAfter);
            withoutLabel = container::without(repaired, s.range.start, s.range.end);
        }
        EXPECT_TRUE(withoutLabel == expected);
    }
}

TEST(ContentCredentialsReplaceBroken, AnotherDeclaredTypeIsKeptAndTheCredentialStillGoes) {
    Bytes source = container::fixture("c2pa/C.jpg");
    const std::string packet = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"r\">"
                               "<rdf:Description Iptc4xmpExt:DigitalSourceType=\"" +
                               sourceTypes + "digitalCapture\"/></rdf:RDF></x:xmpmeta>";
    Bytes xmp = container::segment(0xE1, std::string(ContentCredentials::xmpSignature) + packet);
    Bytes jpeg = container::inserted(source, 20, xmp); // after the JFIF segment

    std::optional<ContentCredentials::Replacement> replacement =
        ContentCredentials::replaceBroken(jpeg);
    ASSERT_TRUE(replacement);
    EXPECT_EQ(replacement->declaredSourceType, sourceTypes + "algorithmicMedia");
    EXPECT_FALSE(replacement->labelWritten);
    EXPECT_TRUE(replacement->data == withoutAPP11(jpeg));
}

} // namespace
} // namespace flenn
