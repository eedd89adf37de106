#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "ContainerSupport.h"
#include "ContentCredentials.h"
#include "XMPLabel.h"

namespace flenn {
namespace {

using ContentCredentials::xmpSignature;

const std::string type = "http://cv.iptc.org/newscodes/digitalsourcetype/trainedAlgorithmicMedia";
const std::string otherType = "http://cv.iptc.org/newscodes/digitalsourcetype/digitalCapture";
const std::string extension = "http://iptc.org/std/Iptc4xmpExt/2008-02-29/";
const std::string declaration = " xmlns:Iptc4xmpExt=\"" + extension + "\"";
const std::string label = " Iptc4xmpExt:DigitalSourceType=\"" + type + "\"";
const std::string rdfNamespace = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr std::size_t limit = 65504;

// An XMP packet as editors write it: white space between elements, padding before the trailer.
std::string xmp(const std::string &body, const std::string &padding = "\n   \n") {
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n <rdf:RDF xmlns:rdf=\"" +
           rdfNamespace + "\">\n  " + body + "\n </rdf:RDF>\n</x:xmpmeta>" + padding +
           "<?xpacket end=\"w\"?>";
}

Bytes xmpSegment(const std::string &packet) {
    return container::segment(0xE1, std::string(xmpSignature) + packet);
}

// A small JPEG carrying the packet in an XMP segment after its JFIF segment.
Bytes jpegWithXMP(const std::string &packet) {
    return container::inserted(fixtures::jpeg(), 20, xmpSegment(packet));
}

std::vector<std::uint8_t> vector(const Bytes &bytes) {
    return {bytes.begin(), bytes.end()};
}

TEST(XMPLabelNewPacket, IsTheFixedPacketAroundTheType) {
    fixtures::JPEGOptions options;
    options.jfif = false;
    Bytes jpeg = fixtures::jpeg(options);
    std::vector<std::uint8_t> bytes = vector(jpeg);
    ASSERT_TRUE(ContentCredentials::writeLabel(type, bytes));

    const std::string packet = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
                               "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"" +
                               rdfNamespace +
                               "\">"
                               "<rdf:Description rdf:about=\"\"" +
                               declaration + label +
                               "/>"
                               "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
    ASSERT_EQ(packet.size(), 323 + type.size());
    Bytes labelled(std::move(bytes));
    EXPECT_TRUE(labelled == container::inserted(jpeg, 2, xmpSegment(packet)));
    if (container::exiftoolAvailable()) {
        EXPECT_EQ(container::exiftool("-s3 -XMP-iptcExt:DigitalSourceType", labelled), type + "\n");
    }
}

TEST(XMPLabelNewPacket, GoesAfterExifOrTheLeadingAPP0Run) {
    const std::string exif = std::string("Exif\0\0", 6) + "MM";
    struct Case {
        const char *name;
        bool jfif;
        std::vector<fixtures::Segment> segments;
        int follows; // index of the segment the new one follows; -1: the start of image
    };
    const Case cases[] = {
        {"after Exif", true, {{0xE1, exif}, {0xE2, "ICC"}}, 1},
        {"after Exif that comes later", true, {{0xE2, "ICC"}, {0xFE, "note"}, {0xE1, exif}}, 3},
        {"after the APP0 run", true, {{0xE0, std::string("JFXX\0", 5)}, {0xE2, "ICC"}}, 1},
        {"only the leading APP0 run counts", true, {{0xE2, "ICC"}, {0xE0, "AVI1"}}, 0},
        {"after the start of image", false, {{0xE2, "ICC"}}, -1},
        {"an APP1 that is not Exif", false, {{0xE1, "Exif\0"}, {0xE0, "AVI1"}}, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fixtures::JPEGOptions options;
        options.jfif = c.jfif;
        options.segments = c.segments;
        Bytes jpeg = fixtures::jpeg(options);
        auto markers = fixtures::headerMarkers(jpeg);
        std::size_t at = c.follows < 0 ? 2 : markers[std::size_t(c.follows) + 1].second;

        std::vector<std::uint8_t> bytes = vector(jpeg);
        ASSERT_TRUE(ContentCredentials::writeLabel(type, bytes));
        Bytes labelled(std::move(bytes));
        ASSERT_GT(labelled.size(), jpeg.size());
        const std::size_t added = labelled.size() - jpeg.size();
        EXPECT_TRUE(container::without(labelled, at, at + added) == jpeg);
        EXPECT_EQ(labelled.slice(at + 4, xmpSignature.size()), Bytes::copying(xmpSignature));
    }
}

struct LabelCase {
    const char *name;
    std::string packet;
    std::optional<std::string> expected;
};

TEST(XMPLabelLabeled, AddsTheLabelOnlyWhereItBelongs) {
    const std::string same = "<rdf:Description rdf:about=\"\"" + declaration + label + "/>";
    const std::string element = "<rdf:Description rdf:about=\"\"" + declaration + ">";
    const std::string dc =
        "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
        "<dc:format>image/jpeg</dc:format></rdf:Description>";
    const std::string built = "<rdf:Description rdf:about=\"\"" + declaration + label + "/>";
    std::string builtInside = xmp(""); // right after the rdf:RDF tag
    builtInside.insert(builtInside.find(rdfNamespace) + rdfNamespace.size() + 2, built);
    const LabelCase cases[] = {
        {"same type as an attribute", xmp(same), xmp(same)},
        {"same type as an element with white space",
         xmp(element + "<Iptc4xmpExt:DigitalSourceType>\n   " + type +
             "\n  </Iptc4xmpExt:DigitalSourceType></rdf:Description>"),
         xmp(element + "<Iptc4xmpExt:DigitalSourceType>\n   " + type +
             "\n  </Iptc4xmpExt:DigitalSourceType></rdf:Description>")},
        {"same type as a resource",
         xmp(element + "<Iptc4xmpExt:DigitalSourceType rdf:resource=\"" + type +
             "\"/></rdf:Description>"),
         xmp(element + "<Iptc4xmpExt:DigitalSourceType rdf:resource=\"" + type +
             "\"/></rdf:Description>")},
        {"same type under another prefix",
         xmp("<rdf:Description xmlns:ext=\"" + extension + "\" ext:DigitalSourceType=\"" + type +
             "\"/>"),
         xmp("<rdf:Description xmlns:ext=\"" + extension + "\" ext:DigitalSourceType=\"" + type +
             "\"/>")},
        {"another type as an attribute",
         xmp("<rdf:Description" + declaration + " Iptc4xmpExt:DigitalSourceType=\"" + otherType +
             "\"/>"),
         std::nullopt},
        {"another type as an element",
         xmp(element + "<Iptc4xmpExt:DigitalSourceType>" + otherType +
             "</Iptc4xmpExt:DigitalSourceType></rdf:Description>"),
         std::nullopt},
        {"an empty label", xmp(element + "<Iptc4xmpExt:DigitalSourceType/></rdf:Description>"),
         std::nullopt},
        {"description without the namespace", xmp(dc),
         xmp("<rdf:Description" + declaration + label + dc.substr(16))},
        {"description declaring the namespace",
         xmp(element + "<Iptc4xmpExt:Event>x</Iptc4xmpExt:Event></rdf:Description>"),
         xmp("<rdf:Description" + label + element.substr(16) +
             "<Iptc4xmpExt:Event>x</Iptc4xmpExt:Event></rdf:Description>")},
        {"prefix bound to another namespace",
         xmp("<rdf:Description xmlns:Iptc4xmpExt=\"http://example.com/ext/\"/>"), std::nullopt},
        {"the first description directly inside rdf:RDF",
         xmp("<foo:Wrap xmlns:foo=\"f\"><rdf:Description rdf:about=\"inner\"/></foo:Wrap>"
             "<rdf:Description rdf:about=\"outer\"/>"),
         xmp("<foo:Wrap xmlns:foo=\"f\"><rdf:Description rdf:about=\"inner\"/></foo:Wrap>"
             "<rdf:Description" +
             declaration + label + " rdf:about=\"outer\"/>")},
        {"no description", xmp(""), builtInside},
        {"self-closing rdf:RDF",
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"" + rdfNamespace +
             "\"/></x:xmpmeta>",
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"" + rdfNamespace + "\">" +
             built + "</rdf:RDF></x:xmpmeta>"},
        {"a description outside rdf:RDF is not used",
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"" + rdfNamespace +
             "\"></rdf:RDF><foo:Bar xmlns:foo=\"f\"><rdf:Description/></foo:Bar></x:xmpmeta>",
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"" + rdfNamespace + "\">" +
             built + "</rdf:RDF><foo:Bar xmlns:foo=\"f\"><rdf:Description/></foo:Bar></x:xmpmeta>"},
        {"no rdf:RDF", "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"></x:xmpmeta>", std::nullopt},
        {"not well formed", xmp("<rdf:Description>"), std::nullopt},
    };
    for (const LabelCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ContentCredentials::labeled(c.packet, type, limit), c.expected);

        // In a JPEG: unchanged byte for byte unless a label is added, and then readable.
        Bytes jpeg = jpegWithXMP(c.packet);
        std::vector<std::uint8_t> bytes = vector(jpeg);
        EXPECT_EQ(ContentCredentials::writeLabel(type, bytes), c.expected.has_value());
        Bytes labelled(std::move(bytes));
        if (!c.expected || *c.expected == c.packet) {
            EXPECT_TRUE(labelled == jpeg);
        } else {
            EXPECT_TRUE(labelled == jpegWithXMP(*c.expected));
            if (container::exiftoolAvailable()) {
                EXPECT_EQ(container::exiftool("-s3 -XMP-iptcExt:DigitalSourceType", labelled),
                          type + "\n");
            }
        }
    }
}

// A packet of exactly `size` bytes whose trailer is preceded by `padding` spaces.
std::string packetOfSize(std::size_t size, std::size_t padding) {
    const std::string before = xmp("<rdf:Description rdf:about=\"\" xmlns:dc=\"d\" dc:note=\"", "");
    const std::size_t fixed = before.size() + 3 + padding; // 3: the closing quote and "/>"
    std::string packet = xmp("<rdf:Description rdf:about=\"\" xmlns:dc=\"d\" dc:note=\"" +
                                 std::string(size - fixed, 'n') + "\"/>",
                             std::string(padding, ' '));
    EXPECT_EQ(packet.size(), size);
    return packet;
}

TEST(XMPLabelLabeled, GrowsBeyondTheLimitOnlyIntoItsPadding) {
    const std::size_t added = declaration.size() + label.size();
    const std::size_t excess = 65500 + added - limit;
    struct Case {
        const char *name;
        std::size_t size, padding;
        bool labelled;
    };
    const Case cases[] = {
        {"200 bytes of padding", 65500, 200, true},
        {"padding exactly the excess", 65500, excess, true},
        {"padding one byte short", 65500, excess - 1, false},
        {"no padding", 65500, 0, false},
        {"no padding needed", limit - added, 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string packet = packetOfSize(c.size, c.padding);
        std::optional<std::string> result = ContentCredentials::labeled(packet, type, limit);
        ASSERT_EQ(result.has_value(), c.labelled);

        Bytes jpeg = jpegWithXMP(packet);
        std::vector<std::uint8_t> bytes = vector(jpeg);
        EXPECT_EQ(ContentCredentials::writeLabel(type, bytes), c.labelled);
        if (!c.labelled) {
            EXPECT_TRUE(Bytes(std::move(bytes)) == jpeg);
            continue;
        }
        EXPECT_EQ(result->size(), std::min(c.size + added, limit));
        std::string unpadded = packetOfSize(c.size, c.padding);
        const std::size_t at = unpadded.find("<rdf:Description") + 16;
        unpadded.insert(at, declaration + label);
        const std::size_t trailer = unpadded.find("<?xpacket end");
        unpadded.erase(trailer - c.padding, c.size + added - result->size());
        EXPECT_EQ(*result, unpadded);

        Bytes labelled(std::move(bytes));
        EXPECT_TRUE(labelled == jpegWithXMP(*result));
        if (c.padding == 200 && container::exiftoolAvailable()) {
            EXPECT_EQ(container::exiftool("-s3 -XMP-iptcExt:DigitalSourceType", labelled),
                      type + "\n");
        }
    }
}

TEST(XMPLabelOpeningTags, ListsOpeningTagsWithTheirDepth) {
    const std::string text = "<?xpacket begin='x'?><a:b q='1' r = \"2\"><!-- <c> --><![CDATA[<d>]]>"
                             "<e/><!DOCTYPE x><f\tg=\"'\"></f></a:b>";
    std::optional<std::vector<ContentCredentials::Tag>> tags =
        ContentCredentials::openingTags(text);
    ASSERT_TRUE(tags);
    ASSERT_EQ(tags->size(), 3u);
    const ContentCredentials::Tag &b = (*tags)[0], &e = (*tags)[1], &f = (*tags)[2];
    EXPECT_EQ(b.name, "a:b");
    EXPECT_EQ(b.depth, 0);
    EXPECT_EQ(b.nameEnd, text.find("a:b") + 3);
    EXPECT_EQ(b.end, text.find("<!--"));
    EXPECT_EQ(b.attributes, (std::map<std::string, std::string>{{"q", "1"}, {"r", "2"}}));
    EXPECT_FALSE(b.selfClosing);
    EXPECT_EQ(e.name, "e");
    EXPECT_EQ(e.depth, 1);
    EXPECT_TRUE(e.selfClosing);
    EXPECT_EQ(e.end, text.find("<!DOCTYPE"));
    EXPECT_EQ(f.depth, 1);
    EXPECT_EQ(f.attributes.at("g"), "'");
}

TEST(XMPLabelOpeningTags, RefusesTextThatIsNotWellFormed) {
    const char *cases[] = {
        "<a><!-- open</a>",
        "<a><![CDATA[ open</a>",
        "<?xpacket begin",
        "</a>",
        "<a>",
        "<a><b></a></b></c>",
        "<a b></a>",
        "<a b=1></a>",
        "<a b=\"1></a>",
        "<a b='1' b='2'></a>",
        "< a></a>",
        "<a b='1'",
        "<a =\"x\"></a>",
        "<a></a",
        "<a/b></a>",
        "<",
    };
    for (const char *text : cases) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(ContentCredentials::openingTags(text));
    }
}

} // namespace
} // namespace flenn
