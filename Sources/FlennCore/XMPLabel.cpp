#include "XMPLabel.h"

#include <algorithm>

#include "ContentCredentials.h"

namespace flenn::ContentCredentials {

namespace {

constexpr std::string_view extensionNamespace = "http://iptc.org/std/Iptc4xmpExt/2008-02-29/";
constexpr std::string_view namespaceAttribute = "xmlns:Iptc4xmpExt";
constexpr std::string_view labelSuffix = ":DigitalSourceType";
constexpr std::string_view packetTrailer = "<?xpacket end";
// A segment's length field counts itself, so its payload holds at most 65,533 bytes.
constexpr std::size_t maximumPacket = 65533 - xmpSignature.size();

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string namespaceDeclaration() {
    return " " + std::string(namespaceAttribute) + "=\"" + std::string(extensionNamespace) + "\"";
}

std::string labelAttribute(std::string_view type) {
    return " Iptc4xmpExt:DigitalSourceType=\"" + std::string(type) + "\"";
}

std::string newPacket(std::string_view type) {
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
           "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
           "<rdf:Description rdf:about=\"\"" +
           namespaceDeclaration() + labelAttribute(type) +
           "/></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
}

// The source type labels the packet states already, as attributes or as elements.
std::vector<std::string_view> existingLabels(std::string_view packet,
                                             const std::vector<Tag> &tags) {
    std::vector<std::string_view> labels;
    for (const Tag &tag : tags) {
        auto attribute = std::find_if(tag.attributes.begin(), tag.attributes.end(),
                                      [](const auto &a) { return a.first.ends_with(labelSuffix); });
        if (attribute != tag.attributes.end()) {
            labels.push_back(trimmed(attribute->second));
        } else if (tag.name.ends_with(labelSuffix)) {
            if (auto resource = tag.attributes.find("rdf:resource");
                resource != tag.attributes.end())
                labels.push_back(trimmed(resource->second));
            else if (tag.selfClosing)
                labels.push_back({});
            else
                labels.push_back(
                    trimmed(packet.substr(tag.end, packet.find('<', tag.end) - tag.end)));
        }
    }
    return labels;
}

// Removes `excess` bytes of the white space right before the packet trailer, if there are that
// many: XMP writers leave this padding precisely so a packet can grow in place.
bool absorbed(std::string &packet, std::size_t excess) {
    std::size_t trailer = packet.find(packetTrailer);
    if (trailer == std::string::npos)
        return false;
    std::size_t padding = trailer;
    while (padding > 0 && isSpace(packet[padding - 1]))
        padding--;
    if (trailer - padding < excess)
        return false;
    packet.erase(padding, excess);
    return true;
}

std::string_view payload(const Segment &segment, const std::vector<std::uint8_t> &bytes) {
    return {reinterpret_cast<const char *>(bytes.data()) + segment.payloadStart(),
            segment.range.end - segment.payloadStart()};
}

std::vector<std::uint8_t> xmpSegment(std::string_view packet) {
    const std::size_t length = 2 + xmpSignature.size() + packet.size();
    std::string segment{char(0xFF), char(0xE1), char(length >> 8), char(length & 0xFF)};
    segment += xmpSignature;
    segment += packet;
    return {segment.begin(), segment.end()};
}

} // namespace

bool writeLabel(std::string_view type, std::vector<std::uint8_t> &into) {
    if (into.size() < 2 || into[0] != 0xFF || into[1] != 0xD8)
        return false;
    const std::vector<Segment> all = segments(into);
    for (const Segment &segment : all) {
        if (segment.marker != 0xE1 || !payload(segment, into).starts_with(xmpSignature))
            continue;
        const std::string_view packet = payload(segment, into).substr(xmpSignature.size());
        std::optional<std::string> updated = labeled(packet, type, maximumPacket);
        if (!updated)
            return false;
        if (*updated == packet)
            return true;
        std::vector<std::uint8_t> replacement = xmpSegment(*updated);
        into.erase(into.begin() + std::ptrdiff_t(segment.range.start),
                   into.begin() + std::ptrdiff_t(segment.range.end));
        into.insert(into.begin() + std::ptrdiff_t(segment.range.start), replacement.begin(),
                    replacement.end());
        return true;
    }

    const std::string packet = newPacket(type);
    if (packet.size() > maximumPacket)
        return false;
    std::size_t at = 2; // right after the start-of-image marker
    auto exif = std::find_if(all.begin(), all.end(), [&](const Segment &segment) {
        return segment.marker == 0xE1 && payload(segment, into).starts_with(exifSignature);
    });
    if (exif != all.end())
        at = exif->range.end;
    else
        for (const Segment &segment : all) {
            if (segment.marker != 0xE0)
                break;
            at = segment.range.end;
        }
    std::vector<std::uint8_t> inserted = xmpSegment(packet);
    into.insert(into.begin() + std::ptrdiff_t(at), inserted.begin(), inserted.end());
    return true;
}

std::optional<std::string> labeled(std::string_view packet, std::string_view type,
                                   std::size_t limit) {
    std::optional<std::vector<Tag>> tags = openingTags(packet);
    if (!tags)
        return std::nullopt;
    std::vector<std::string_view> labels = existingLabels(packet, *tags);
    if (!labels.empty()) {
        // Another declared type is never overwritten.
        if (std::find(labels.begin(), labels.end(), type) != labels.end())
            return std::string(packet);
        return std::nullopt;
    }

    auto rdf = std::find_if(tags->begin(), tags->end(),
                            [](const Tag &tag) { return tag.name == "rdf:RDF"; });
    if (rdf == tags->end())
        return std::nullopt;
    // The first description directly inside rdf:RDF; the search ends where rdf:RDF does.
    const Tag *description = nullptr;
    for (auto tag = rdf + 1; tag != tags->end() && tag->depth > rdf->depth; ++tag)
        if (tag->name == "rdf:Description" && tag->depth == rdf->depth + 1) {
            description = &*tag;
            break;
        }

    std::string result(packet);
    if (description) {
        auto declared = description->attributes.find(std::string(namespaceAttribute));
        std::string insertion = labelAttribute(type);
        if (declared == description->attributes.end())
            insertion = namespaceDeclaration() + insertion;
        else if (declared->second != extensionNamespace)
            return std::nullopt;
        result.insert(description->nameEnd, insertion);
    } else {
        std::string element = "<rdf:Description rdf:about=\"\"" + namespaceDeclaration() +
                              labelAttribute(type) + "/>";
        if (rdf->selfClosing)
            result.replace(rdf->end - 2, 2, ">" + element + "</rdf:RDF>");
        else
            result.insert(rdf->end, element);
    }
    if (result.size() > limit && !absorbed(result, result.size() - limit))
        return std::nullopt;
    return result;
}

std::optional<std::vector<Tag>> openingTags(std::string_view in) {
    std::vector<Tag> tags;
    int depth = 0;
    // The offset just past the next `terminator` at or after `from`.
    auto past = [in](std::string_view terminator, std::size_t from) -> std::optional<std::size_t> {
        std::size_t found = in.find(terminator, from);
        if (found == std::string_view::npos)
            return std::nullopt;
        return found + terminator.size();
    };
    auto endsName = [](char c) { return isSpace(c) || c == '/' || c == '>'; };

    std::size_t i = 0;
    while (true) {
        const std::size_t open = in.find('<', i);
        if (open == std::string_view::npos)
            return depth == 0 ? std::optional(std::move(tags)) : std::nullopt;
        const std::string_view rest = in.substr(open);
        std::string_view terminator; // of a comment, CDATA section, instruction or closing tag
        std::size_t from = open + 2;
        if (rest.starts_with("<!--"))
            terminator = "-->", from = open + 4;
        else if (rest.starts_with("<![CDATA["))
            terminator = "]]>", from = open + 9;
        else if (rest.starts_with("<?"))
            terminator = "?>";
        else if (rest.starts_with("</") || rest.starts_with("<!"))
            terminator = ">";
        if (!terminator.empty()) {
            std::optional<std::size_t> next = past(terminator, from);
            if (!next || (rest.starts_with("</") && --depth < 0))
                return std::nullopt;
            i = *next;
            continue;
        }

        Tag tag;
        std::size_t p = open + 1;
        while (p < in.size() && !endsName(in[p]))
            p++;
        if (p == open + 1)
            return std::nullopt;
        tag.name = in.substr(open + 1, p - open - 1);
        tag.nameEnd = p;
        tag.depth = depth;
        while (true) {
            while (p < in.size() && isSpace(in[p]))
                p++;
            if (p >= in.size())
                return std::nullopt;
            if (in.substr(p).starts_with("/>")) {
                tag.selfClosing = true;
                tag.end = p + 2;
                break;
            }
            if (in[p] == '>') {
                tag.end = p + 1;
                break;
            }
            const std::size_t nameStart = p;
            while (p < in.size() && !endsName(in[p]) && in[p] != '=')
                p++;
            std::string name(in.substr(nameStart, p - nameStart));
            while (p < in.size() && isSpace(in[p]))
                p++;
            if (name.empty() || p >= in.size() || in[p] != '=')
                return std::nullopt;
            p++;
            while (p < in.size() && isSpace(in[p]))
                p++;
            if (p >= in.size() || (in[p] != '"' && in[p] != '\''))
                return std::nullopt;
            const std::size_t close = in.find(in[p], p + 1);
            if (close == std::string_view::npos)
                return std::nullopt;
            if (!tag.attributes.emplace(std::move(name), in.substr(p + 1, close - p - 1)).second)
                return std::nullopt; // an attribute named twice
            p = close + 1;
        }
        if (!tag.selfClosing)
            depth++;
        i = tag.end;
        tags.push_back(std::move(tag));
    }
}

} // namespace flenn::ContentCredentials
