#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "CodecError.h"
#include "ContainerSupport.h"
#include "ContentCredentials.h"
#include "JPEGHeader.h"
#include "MPFIndex.h"
#include "MultiPicture.h"
#include "XMPLabel.h"

// Deterministic mutations of real and built files: every reader must stay inside its buffer (the
// sanitizer build turns any stray read into a failure) and keep its results consistent.
namespace flenn {
namespace {

constexpr int mutationsPerSeed = 600;
const std::string type = "http://cv.iptc.org/newscodes/digitalsourcetype/algorithmicMedia";

std::vector<Bytes> binarySeeds() {
    using container::packet;
    container::MultiPictureLayout layout{true,
                                         {{0xE1, std::string("Exif\0\0", 6) + "II*"}},
                                         {},
                                         {{container::thumbnailVGA, container::preview(2)},
                                          {container::disparityImage, {}},
                                          {container::thumbnailFullHD, container::preview(3)}}};
    Bytes littleEndian = container::multiPictureFile(layout).file;
    layout.littleEndian = false;
    Bytes bigEndian = container::multiPictureFile(layout).file;

    fixtures::JPEGOptions store;
    store.segments = {{0xE1, std::string("Exif\0\0", 6) + "MM"},
                      {0xEB, packet(3, 1, 400, container::described("c2pa", "one " + type))},
                      {0xEB, packet(3, 2, 400, "two")},
                      {0xEB, packet(3, 3, 1, std::string(8, '\0') + "three")},
                      {0xE1, std::string(ContentCredentials::xmpSignature) +
                                 "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF><rdf:Description/>"
                                 "</rdf:RDF></x:xmpmeta>     <?xpacket end=\"w\"?>"}};

    Bytes credential = container::fixture("c2pa/C.jpg");
    return {littleEndian, bigEndian, fixtures::jpeg(store), credential.prefix(46700),
            container::fixture("mpf/truncated-index.jpg")};
}

// One to three mutations, half of them aimed at the header where the structure is.
std::vector<std::uint8_t> mutated(const Bytes &seed, std::mt19937 &random) {
    std::vector<std::uint8_t> bytes(seed.begin(), seed.end());
    const int count = 1 + int(random() % 3);
    for (int m = 0; m < count && !bytes.empty(); m++) {
        const std::size_t reach =
            random() % 2 ? std::min<std::size_t>(bytes.size(), 700) : bytes.size();
        const std::size_t at = random() % reach;
        switch (random() % 5) {
        case 0:
            bytes[at] = std::uint8_t(random());
            break;
        case 1:
            bytes.resize(at);
            break;
        case 2:
            bytes[at] = 0xFF;
            break;
        case 3: { // a length or count field set to an extreme
            const std::uint16_t extremes[] = {0x0000, 0x0001, 0x0002, 0xFFFF, 0x8000, 0x00FF};
            const std::uint16_t value = extremes[random() % 6];
            bytes[at] = std::uint8_t(value >> 8);
            if (at + 1 < bytes.size())
                bytes[at + 1] = std::uint8_t(value);
            break;
        }
        default: // bytes cut out of the middle
            bytes.erase(bytes.begin() + std::ptrdiff_t(at),
                        bytes.begin() +
                            std::ptrdiff_t(std::min(bytes.size(), at + 1 + random() % 16)));
        }
    }
    return bytes;
}

void expectOrderedInside(const std::vector<JPEGHeader::Segment> &segments, std::size_t size) {
    std::size_t previous = 2;
    for (const JPEGHeader::Segment &s : segments) {
        ASSERT_GE(s.range.start, previous);
        ASSERT_GE(s.range.size(), 4u);
        ASSERT_LE(s.range.end, size);
        previous = s.range.end;
    }
}

TEST(ContainerFuzz, BinaryReadersStayInsideHostileInput) {
    const std::vector<Bytes> seeds = binarySeeds();
    int splits = 0, rebuilt = 0, replaced = 0;
    for (std::size_t s = 0; s < seeds.size(); s++)
        for (int i = 0; i < mutationsPerSeed; i++) {
            std::mt19937 random(unsigned(s * 100003 + unsigned(i)));
            // An exactly sized copy, so a read one past the end is caught by the sanitizer.
            std::vector<std::uint8_t> m = mutated(seeds[s], random);
            const Bytes input = Bytes::copying(m.data(), m.size());
            SCOPED_TRACE("seed " + std::to_string(s) + ", mutation " + std::to_string(i));

            expectOrderedInside(JPEGHeader::segments(input.span()), input.size());
            const auto all = ContentCredentials::segments(input.span());
            expectOrderedInside(all, input.size());

            if (std::optional<MPFIndex> index = MPFIndex::read(input.span())) {
                ASSERT_GE(index->entries.size(), 1u);
                ASSERT_LE(index->entries.size(), 63u);
                ASSERT_LE(index->entryTable + 16 * index->entries.size(), input.size());
            }
            if (std::optional<MultiPicture> split = MultiPicture::file(input)) {
                splits++;
                ASSERT_TRUE(fixtures::concatenated({split->primary, split->trailing}) == input);
                try {
                    ASSERT_EQ(split->rebuild(split->primary).size(), input.size());
                    rebuilt++;
                } catch (const CodecError &) {
                    // A hostile index may not be carried over; what matters is the failure is
                    // clean.
                }
            }
            ASSERT_LE(MultiPicture::withoutIndex(input).size(), input.size());

            const auto credentials = ContentCredentials::credentialSegments(all, input.span());
            std::size_t packetBytes = 0;
            for (const auto &c : credentials)
                packetBytes += c.range.size();
            ASSERT_LE(ContentCredentials::manifest(credentials, input.span()).size(), packetBytes);
            if (auto replacement = ContentCredentials::replaceBroken(input)) {
                replaced++;
                ASSERT_FALSE(credentials.empty());
                // Only the header changed, and it still chains up to the unchanged rest.
                const Bytes &data = replacement->data;
                const std::size_t rest = input.size() - all.back().range.end;
                ASSERT_GE(data.size(), rest);
                ASSERT_TRUE(data.suffix(data.size() - rest) == input.suffix(all.back().range.end));
                const auto repaired = ContentCredentials::segments(data.span());
                ASSERT_EQ(repaired.empty() ? 2 : repaired.back().range.end, data.size() - rest);
            }
        }
    // The mutations must reach the interesting paths, not only the early exits.
    EXPECT_GT(splits, 100);
    EXPECT_GT(rebuilt, 50);
    EXPECT_GT(replaced, 100);
}

std::vector<std::string> xmpSeeds() {
    const std::string rdf = "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">";
    return {
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n<x:xmpmeta "
        "xmlns:x=\"adobe:ns:meta/\">\n " +
            rdf +
            "\n  <rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
            "   <dc:title><rdf:Alt><rdf:li xml:lang='x-default'>A &amp; "
            "B</rdf:li></rdf:Alt></dc:title>\n"
            "  </rdf:Description>\n </rdf:RDF>\n</x:xmpmeta>\n      \n<?xpacket end=\"w\"?>",
        "<x:xmpmeta><!-- c --><![CDATA[<a>]]>" + rdf +
            "<rdf:Description><Iptc4xmpExt:DigitalSourceType>" + type +
            "</Iptc4xmpExt:DigitalSourceType></rdf:Description></rdf:RDF></x:xmpmeta>",
        "<x:xmpmeta><rdf:RDF/></x:xmpmeta>  <?xpacket end='w'?>",
    };
}

std::string mutatedText(const std::string &seed, std::mt19937 &random) {
    static constexpr std::string_view alphabet = "<>/=\"'!-?[] :\n\tabrdf";
    std::string text = seed;
    const int count = 1 + int(random() % 4);
    for (int m = 0; m < count && !text.empty(); m++) {
        const std::size_t at = random() % text.size();
        const char c = random() % 4 ? alphabet[random() % alphabet.size()] : char(random());
        switch (random() % 4) {
        case 0:
            text[at] = c;
            break;
        case 1:
            text.insert(text.begin() + std::ptrdiff_t(at), c);
            break;
        case 2:
            text.erase(at, 1 + random() % 8);
            break;
        default:
            text.resize(at);
        }
    }
    return text;
}

TEST(ContainerFuzz, TagScannerAndLabellerStayInsideHostileText) {
    const std::vector<std::string> seeds = xmpSeeds();
    int wellFormed = 0, labelled = 0;
    for (std::size_t s = 0; s < seeds.size(); s++)
        for (int i = 0; i < 1000; i++) {
            std::mt19937 random(unsigned(s * 7919 + unsigned(i)));
            const std::string text = mutatedText(seeds[s], random);
            SCOPED_TRACE("seed " + std::to_string(s) + ", mutation " + std::to_string(i));
            // Copied into a buffer of exactly its size: no terminating zero to hide an overread.
            std::unique_ptr<char[]> exact(new char[text.size()]);
            std::copy(text.begin(), text.end(), exact.get());
            const std::string_view view(exact.get(), text.size());

            if (auto tags = ContentCredentials::openingTags(view)) {
                wellFormed++;
                for (const auto &tag : *tags) {
                    ASSERT_FALSE(tag.name.empty());
                    ASSERT_GE(tag.depth, 0);
                    ASSERT_LE(tag.nameEnd, tag.end);
                    ASSERT_LE(tag.end, view.size());
                }
            }
            const std::size_t limit = text.size() + 120;
            if (auto result = ContentCredentials::labeled(view, type, limit)) {
                labelled++;
                ASSERT_LE(result->size(), limit);
            }

            // Written into a JPEG, the header must still chain up to its tables.
            Bytes jpeg = container::inserted(
                fixtures::jpeg(), 20,
                container::segment(0xE1, std::string(ContentCredentials::xmpSignature) + text));
            std::vector<std::uint8_t> bytes(jpeg.begin(), jpeg.end());
            ContentCredentials::writeLabel(type, bytes);
            const auto segments = JPEGHeader::segments(bytes);
            ASSERT_FALSE(segments.empty());
            ASSERT_EQ(bytes[segments.back().range.end + 1], 0xDA);
        }
    EXPECT_GT(wellFormed, 300);
    EXPECT_GT(labelled, 100);
}

} // namespace
} // namespace flenn
