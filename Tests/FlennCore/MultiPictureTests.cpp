#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "CodecError.h"
#include "ContainerSupport.h"
#include "JPEGHeader.h"
#include "JPEGSession.h"
#include "MPFIndex.h"
#include "MultiPicture.h"
#include "Sentences.h"

namespace flenn {
namespace {

using container::MultiPictureLayout;
using container::Picture;

Bytes raw(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (int v : values)
        bytes.push_back(std::uint8_t(v));
    return Bytes(std::move(bytes));
}

using Found = std::vector<std::pair<int, std::pair<std::size_t, std::size_t>>>;

Found listed(const std::vector<JPEGHeader::Segment> &segments) {
    Found found;
    for (const auto &s : segments)
        found.push_back({s.marker, {s.range.start, s.range.end}});
    return found;
}

TEST(JPEGHeaderSegments, ScanEndsWhereTheHeaderEnds) {
    struct Case {
        const char *name;
        Bytes bytes;
        Found expected;
    };
    const Case cases[] = {
        {"three bytes", raw({0xFF, 0xD8, 0xFF}), {}},
        {"no start of image", raw({0xFF, 0xD9, 0xFF, 0xE0, 0x00, 0x02}), {}},
        {"two segments",
         raw({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 1, 2, 0xFF, 0xFE, 0x00, 0x02}),
         {{0xE0, {2, 8}}, {0xFE, {8, 12}}}},
        {"fill bytes skipped",
         raw({0xFF, 0xD8, 0xFF, 0xFF, 0xFF, 0xE1, 0x00, 0x03, 9, 0xFF, 0xFF, 0xE2, 0x00, 0x02}),
         {{0xE1, {4, 9}}, {0xE2, {10, 14}}}},
        {"stops at the scan",
         raw({0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x02, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xE0, 0x00, 0x02}),
         {{0xDB, {2, 6}}}},
        {"stops at end of image",
         raw({0xFF, 0xD8, 0xFF, 0xD9, 0x00, 0x02, 0xFF, 0xE0, 0x00, 0x02}),
         {}},
        {"length past the end leaves out the rest",
         raw({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0xFF, 0xE1, 0x00, 0x09, 1, 2, 0xFF, 0xE2, 0, 2}),
         {{0xE0, {2, 6}}}},
        {"length below two", raw({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xE1, 0x00, 0x02}), {}},
        {"no marker where one belongs", raw({0xFF, 0xD8, 0x00, 0xE0, 0x00, 0x02}), {}},
        {"fewer than four bytes left",
         raw({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0xFF, 0xE1, 0}),
         {{0xE0, {2, 6}}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(listed(JPEGHeader::segments(c.bytes.span())), c.expected);
    }
}

TEST(JPEGHeaderSegments, RealFilesListEverySegmentBeforeTheScan) {
    for (const char *name :
         {"c2pa/C.jpg", "c2pa/ocsp.jpg", "c2pa/no_manifest.jpg", "mpf/truncated-index.jpg"}) {
        SCOPED_TRACE(name);
        Bytes file = container::fixture(name);
        auto markers = fixtures::headerMarkers(file);
        ASSERT_EQ(markers.back().first, 0xDA);
        markers.pop_back();
        auto segments = JPEGHeader::segments(file.span());
        ASSERT_EQ(segments.size(), markers.size());
        for (std::size_t i = 0; i < segments.size(); i++) {
            EXPECT_EQ(segments[i].marker, markers[i].first);
            EXPECT_EQ(segments[i].range.start, markers[i].second);
        }
        EXPECT_EQ(segments.back().range.end, fixtures::headerMarkers(file).back().second);
    }
}

MultiPictureLayout twoPreviews(bool littleEndian) {
    return {littleEndian,
            {{0xE1, std::string("Exif\0\0", 6) + "II*"}},
            {},
            {{container::thumbnailVGA, container::preview(2)},
             {container::thumbnailFullHD, container::preview(3)}}};
}

MultiPictureLayout manyPreviews(std::size_t count) {
    MultiPictureLayout layout;
    for (std::size_t i = 0; i < count; i++)
        layout.following.push_back({container::thumbnailVGA, container::preview(unsigned(i) + 2)});
    return layout;
}

TEST(MPFIndexRead, ReadsBothByteOrders) {
    for (bool littleEndian : {true, false}) {
        SCOPED_TRACE(littleEndian ? "II" : "MM");
        container::BuiltFile built = container::multiPictureFile(twoPreviews(littleEndian));
        std::optional<MPFIndex> index = MPFIndex::read(built.file.span());
        ASSERT_TRUE(index);
        EXPECT_EQ(index->littleEndian, littleEndian);
        EXPECT_EQ(index->header, built.header);
        EXPECT_EQ(index->entryTable, built.header + container::entryTableAt);
        const std::vector<MPFIndex::Entry> expected = {
            {container::primaryImage, std::uint32_t(built.primary.size()), 0},
            {container::thumbnailVGA, 0, std::uint32_t(built.starts[0] - built.header)},
            {container::thumbnailFullHD, 0, std::uint32_t(built.starts[1] - built.header)}};
        ASSERT_EQ(index->entries.size(), 3u);
        for (std::size_t i = 0; i < 3; i++) {
            EXPECT_EQ(index->entries[i].attribute, expected[i].attribute);
            EXPECT_EQ(index->entries[i].offset, expected[i].offset);
        }
        EXPECT_EQ(index->entries[1].size, container::preview(2).size());
    }
}

TEST(MPFIndexRead, RefusesIndexesThatDoNotHold) {
    const container::BuiltFile built = container::multiPictureFile(twoPreviews(true));
    const Bytes &file = built.file;
    const std::size_t h = built.header;
    const std::size_t countValue = h + container::countFieldAt + 8;
    struct Case {
        const char *name;
        Bytes bytes;
        bool accepted;
    };
    const Case cases[] = {
        {"as built", file, true},
        {"declares no image", container::with32(file, countValue, 0, true), false},
        {"declares more images than its table holds", container::with32(file, countValue, 4, true),
         false},
        {"unknown byte order", container::withBytes(file, h, "IM"), false},
        {"IFD beyond the segment", container::with32(file, h + 4, 0x10000, true), false},
        {"IFD count runs past the segment",
         container::with16(file, h + container::ifdCountAt, 0xFFFF, true), false},
        {"no entry table field",
         container::with16(file, h + container::entryTableFieldAt, 0xB003, true), false},
        {"entry table at the header",
         container::with32(file, h + container::entryTableFieldAt + 8, 0, true), false},
        {"a later NumberOfImages overrides an earlier one",
         container::with16(file, h + container::versionFieldAt, 0xB001, true), true},
        {"an earlier NumberOfImages is overridden by a later one of 0",
         container::with32(
             container::with32(container::with16(file, h + container::versionFieldAt, 0xB001, true),
                               h + container::versionFieldAt + 8, 3, true),
             countValue, 0, true),
         false},
        {"a later MPF segment does not stand in for a malformed first one",
         container::inserted(container::withBytes(file, h, "XX"), 2,
                             container::segment(0xE2, std::string("MPF\0II", 6))),
         false},
        {"an APP2 segment of another kind comes first",
         container::inserted(file, 2, container::segment(0xE2, std::string("ICC_PROFILE\0", 12))),
         true},
        {"segment too short for the header",
         container::inserted(fixtures::jpeg(), 2,
                             container::segment(0xE2, std::string("MPF\0II*", 8))),
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MPFIndex::read(c.bytes.span()).has_value(), c.accepted);
    }
}

TEST(MPFIndexRead, AcceptsSixtyThreeImagesButNotSixtyFour) {
    for (std::size_t images : {63u, 64u}) {
        SCOPED_TRACE(images);
        container::BuiltFile built = container::multiPictureFile(manyPreviews(images - 1));
        std::optional<MPFIndex> index = MPFIndex::read(built.file.span());
        EXPECT_EQ(index.has_value(), images == 63);
        EXPECT_EQ(MultiPicture::file(built.file).has_value(), images == 63);
    }
}

TEST(MPFIndexWrite, WritesSizeAndOffsetInTheIndexByteOrder) {
    for (bool littleEndian : {true, false}) {
        SCOPED_TRACE(littleEndian ? "II" : "MM");
        container::BuiltFile built = container::multiPictureFile(twoPreviews(littleEndian));
        MPFIndex index = *MPFIndex::read(built.file.span());
        std::vector<std::uint8_t> bytes(built.file.begin(), built.file.end());
        const std::size_t record = index.entryTable + 16;
        index.write({0xAAAAAAAA, 0x01020304, 0x0A0B0C0D}, record, bytes);
        Bytes written(std::move(bytes));
        EXPECT_EQ(container::get32(written, record + 4, littleEndian), 0x01020304u);
        EXPECT_EQ(container::get32(written, record + 8, littleEndian), 0x0A0B0C0Du);
        // The attribute and the dependent-image fields are not touched.
        EXPECT_EQ(written.prefix(record + 4), built.file.prefix(record + 4));
        EXPECT_EQ(written.suffix(record + 12), built.file.suffix(record + 12));
    }
}

struct SplitCase {
    const char *name;
    MultiPictureLayout layout;
    std::optional<std::size_t> splitAt; // the following picture the primary ends at; none: whole
    bool onlyPreviews;
};

TEST(MultiPictureFile, SplitsAtTheEarliestFollowingPicture) {
    const SplitCase cases[] = {
        {"two large thumbnails, little-endian", twoPreviews(true), 0, true},
        {"two large thumbnails, big-endian", twoPreviews(false), 0, true},
        {"a disparity image is not a preview",
         {true,
          {},
          {},
          {{container::thumbnailVGA, container::preview(2)},
           {container::disparityImage, container::preview(3)}}},
         0,
         false},
        {"a second picture of size 0 is ignored",
         {true,
          {},
          {},
          {{container::disparityImage, {}}, {container::thumbnailFullHD, container::preview(3)}}},
         1,
         true},
        {"only the primary is listed", {true, {}, {}, {}}, std::nullopt, false},
    };
    for (const SplitCase &c : cases) {
        SCOPED_TRACE(c.name);
        container::BuiltFile built = container::multiPictureFile(c.layout);
        std::optional<MultiPicture> split = MultiPicture::file(built.file);
        ASSERT_TRUE(split);
        const std::size_t end = c.splitAt ? built.starts[*c.splitAt] : built.file.size();
        EXPECT_EQ(split->primary, built.file.prefix(end));
        EXPECT_EQ(split->trailing, built.file.suffix(end));
        EXPECT_EQ(split->onlyPreviews, c.onlyPreviews);
    }
}

TEST(MultiPictureFile, SplitsAtTheLowestOffsetWhateverTheEntryOrder) {
    container::BuiltFile built = container::multiPictureFile(twoPreviews(true));
    const std::size_t record = built.header + container::entryTableAt + 16;
    // List the later picture first: swap the two following records.
    Bytes swapped = container::withBytes(
        container::withBytes(
            built.file, record,
            std::string(reinterpret_cast<const char *>(built.file.data() + record + 16), 16)),
        record + 16, std::string(reinterpret_cast<const char *>(built.file.data() + record), 16));
    std::optional<MultiPicture> split = MultiPicture::file(swapped);
    ASSERT_TRUE(split);
    EXPECT_EQ(split->primary.size(), built.starts[0]);
}

TEST(MultiPictureFile, YieldsNothingForAnIndexThatDoesNotFitTheFile) {
    const container::BuiltFile built = container::multiPictureFile(twoPreviews(true));
    const std::size_t table = built.header + container::entryTableAt;
    struct Case {
        const char *name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"last picture cut short", built.file.prefix(built.file.size() - 1)},
        {"offset past the end", container::with32(built.file, table + 16 + 8, 0x00FFFFFF, true)},
        {"size past the end", container::with32(built.file, table + 16 + 4, 0x00FFFFFF, true)},
        {"following picture at offset 0", container::with32(built.file, table + 32 + 8, 0, true)},
        {"primary not at offset 0", container::with32(built.file, table + 8, 16, true)},
        {"no index at all", fixtures::jpeg()},
        {"real file whose preview is gone", container::fixture("mpf/truncated-index.jpg")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(MultiPicture::file(c.bytes));
    }
    // The real file's index itself reads; what it describes is not there.
    std::optional<MPFIndex> index =
        MPFIndex::read(container::fixture("mpf/truncated-index.jpg").span());
    ASSERT_TRUE(index);
    ASSERT_EQ(index->entries.size(), 2u);
    EXPECT_EQ(index->entries[1].size, 1039273u);
}

// The primary's bytes with one of its segments (found by marker) taken out.
Bytes withoutSegment(const Bytes &jpeg, std::uint8_t marker) {
    for (const auto &s : JPEGHeader::segments(jpeg.span()))
        if (s.marker == marker)
            return container::without(jpeg, s.range.start, s.range.end);
    throw std::logic_error("segment not found");
}

Bytes repacked(const Bytes &jpeg) {
    return JPEGSession(jpeg).write(RequantSettings::lossless);
}

struct RebuildCase {
    const char *name;
    std::vector<fixtures::Segment> before, after;
    std::function<Bytes(const Bytes &)> rewrite;
    std::optional<std::int64_t> offsetChange; // none: whatever the size change of the primary
};

TEST(MultiPictureRebuild, EveryPictureStaysWhereTheIndexSays) {
    if (!container::exiftoolAvailable())
        GTEST_SKIP() << "exiftool is not installed";
    const RebuildCase cases[] = {
        {"re-encoded primary", {}, {}, repacked, std::nullopt},
        {"primary 40,000 bytes shorter after its index",
         {},
         {{0xFE, std::string(39996, 'c')}},
         [](const Bytes &p) { return withoutSegment(p, 0xFE); },
         -40000},
        {"segment before the index removed",
         {{0xEB, std::string(1996, 'j')}},
         {},
         [](const Bytes &p) { return withoutSegment(p, 0xEB); },
         0},
        {"segment inserted before the index",
         {},
         {},
         [](const Bytes &p) {
             return container::inserted(p, 2, container::segment(0xE1, std::string(5000, 'x')));
         },
         0},
    };
    for (const RebuildCase &c : cases)
        for (bool littleEndian : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (littleEndian ? ", II" : ", MM"));
            MultiPictureLayout layout = twoPreviews(littleEndian);
            layout.following.push_back({container::disparityImage, container::preview(4)});
            layout.before.insert(layout.before.end(), c.before.begin(), c.before.end());
            layout.after = c.after;
            container::BuiltFile built = container::multiPictureFile(layout);
            std::optional<MultiPicture> split = MultiPicture::file(built.file);
            ASSERT_TRUE(split);
            Bytes primary = c.rewrite(split->primary);
            ASSERT_NE(primary.size(), split->primary.size());

            Bytes rebuilt = split->rebuild(primary);
            EXPECT_EQ(rebuilt.suffix(primary.size()), split->trailing);
            std::optional<MPFIndex> before = MPFIndex::read(built.file.span());
            std::optional<MPFIndex> after = MPFIndex::read(rebuilt.span());
            ASSERT_TRUE(after);
            EXPECT_EQ(after->littleEndian, littleEndian);
            EXPECT_EQ(after->entries[0].size, primary.size());
            EXPECT_EQ(after->entries[0].offset, 0u);
            std::int64_t change = c.offsetChange.value_or(std::int64_t(primary.size()) -
                                                          std::int64_t(split->primary.size()));
            for (std::size_t i = 1; i < 4; i++) {
                EXPECT_EQ(after->entries[i].attribute, before->entries[i].attribute);
                EXPECT_EQ(after->entries[i].size, before->entries[i].size);
                EXPECT_EQ(std::int64_t(after->entries[i].offset),
                          std::int64_t(before->entries[i].offset) + change);
            }
            // An independent reader finds every following picture byte for byte (exiftool calls
            // the second picture of a file its preview image).
            std::string extracted =
                container::exiftool("-b -MPImage2:PreviewImage -MPImage3 -MPImage4", rebuilt);
            EXPECT_TRUE(Bytes::copying(extracted) == split->trailing);
        }
}

TEST(MultiPictureRebuild, SizeZeroEntriesKeepTheirOffset) {
    MultiPictureLayout layout{
        false,
        {},
        {},
        {{container::disparityImage, {}}, {container::thumbnailVGA, container::preview(5)}}};
    container::BuiltFile built = container::multiPictureFile(layout);
    const std::size_t sizeZeroOffset = built.header + container::entryTableAt + 16 + 8;
    Bytes file = container::with32(built.file, sizeZeroOffset, 77, false);
    std::optional<MultiPicture> split = MultiPicture::file(file);
    ASSERT_TRUE(split);
    Bytes rewritten = repacked(split->primary);
    Bytes rebuilt = split->rebuild(rewritten);
    std::optional<MPFIndex> index = MPFIndex::read(rebuilt.span());
    ASSERT_TRUE(index);
    EXPECT_EQ(index->entries[1].offset, 77u);
    EXPECT_EQ(index->entries[1].size, 0u);
    EXPECT_EQ(index->entries[2].offset, rewritten.size() - index->header);
}

TEST(MultiPictureRebuild, FailsWhenTheIndexCannotBeCarriedOver) {
    const container::BuiltFile built = container::multiPictureFile(twoPreviews(true));
    const MultiPicture split = *MultiPicture::file(built.file);
    MultiPictureLayout fewer = twoPreviews(true);
    fewer.following.pop_back();

    // A hand-made split whose second picture lies inside the primary, before a segment that
    // the rewrite then drops: the picture would have to start before the index.
    container::BuiltFile inside =
        container::multiPictureFile({true,
                                     {},
                                     {{0xFE, std::string(996, 'c')}},
                                     {{container::thumbnailVGA, container::preview(2)}}});
    const std::size_t record = inside.header + container::entryTableAt + 16;
    Bytes pointingInside = container::with32(
        container::with32(inside.primary, record + 4, 10, true), record + 8, 20, true);
    MultiPicture handMade{pointingInside, Bytes(), false};

    struct Case {
        const char *name;
        const MultiPicture &split;
        Bytes primary;
        std::string_view sentence;
    };
    const Case cases[] = {
        {"new primary without an index", split, MultiPicture::withoutIndex(repacked(split.primary)),
         Sentences::multiPictureIndexNotUpdated},
        {"new primary with another entry count", split, container::multiPictureFile(fewer).primary,
         Sentences::multiPictureIndexNotUpdated},
        {"picture would start before the index", handMade, withoutSegment(pointingInside, 0xFE),
         Sentences::multiPictureIndexInconsistent},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.split.rebuild(c.primary);
            ADD_FAILURE() << "no error";
        } catch (const CodecError &error) {
            EXPECT_EQ(error.message(), c.sentence);
        }
    }
}

TEST(MultiPictureWithoutIndex, RemovesOnlyTheFirstIndexSegment) {
    const container::BuiltFile built = container::multiPictureFile(twoPreviews(false));
    const std::size_t start = built.header - 8;
    const std::size_t length = std::size_t(built.file[start + 2]) << 8 | built.file[start + 3];
    EXPECT_EQ(MultiPicture::withoutIndex(built.primary),
              container::without(built.primary, start, start + 2 + length));

    Bytes twice = container::inserted(built.primary, start + 2 + length,
                                      built.primary.slice(start, 2 + length));
    EXPECT_EQ(MultiPicture::withoutIndex(twice), built.primary);

    Bytes plain = fixtures::jpeg();
    EXPECT_EQ(MultiPicture::withoutIndex(plain), plain);
}

} // namespace
} // namespace flenn
