#include "ContentCredentials.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "XMPLabel.h"

namespace flenn::ContentCredentials {

namespace {

using Key = std::array<std::uint8_t, 6>; // box instance number and box type

constexpr std::string_view storeHeadMark = "jumdc2pa";
constexpr std::string_view sourceTypePrefix = "http://cv.iptc.org/newscodes/digitalsourcetype/";
// Without the scheme, so that addresses written with https match as well.
constexpr std::string_view sourceTypeAddress = sourceTypePrefix.substr(7);
constexpr std::array<std::string_view, 5> preferredTerms = {
    "trainedAlgorithmicMedia", "compositeWithTrainedAlgorithmicMedia", "algorithmicMedia",
    "compositeSynthetic", "composite"};

// The first index where the whole pattern lies inside [from, to) of `in`.
std::optional<std::size_t> firstIndex(std::string_view pattern, std::span<const std::uint8_t> in,
                                      std::size_t from, std::size_t to) {
    to = std::min(to, in.size());
    if (from >= to)
        return std::nullopt;
    auto first = in.begin() + std::ptrdiff_t(from), last = in.begin() + std::ptrdiff_t(to);
    auto found = std::search(first, last, pattern.begin(), pattern.end(),
                             [](std::uint8_t a, char b) { return a == std::uint8_t(b); });
    if (found == last)
        return std::nullopt;
    return std::size_t(found - in.begin());
}

std::uint32_t bigEndian32(std::span<const std::uint8_t> in, std::size_t at) {
    return std::uint32_t(in[at]) << 24 | std::uint32_t(in[at + 1]) << 16 |
           std::uint32_t(in[at + 2]) << 8 | in[at + 3];
}

bool startsWith(std::span<const std::uint8_t> in, std::size_t at, std::string_view text) {
    return at <= in.size() && in.size() - at >= text.size() &&
           std::equal(text.begin(), text.end(), in.begin() + std::ptrdiff_t(at),
                      [](char a, std::uint8_t b) { return std::uint8_t(a) == b; });
}

bool endsHeader(std::uint8_t marker) {
    return marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xDA);
}

struct Packet {
    const Segment *segment;
    Key key;
    std::uint32_t sequence;
    bool storeHead;
};

// A JPEG XT packet: at least 16 payload bytes after the length, starting with "JP".
std::optional<Packet> packet(const Segment &segment, std::span<const std::uint8_t> bytes) {
    const std::size_t at = segment.range.start;
    if (segment.marker != 0xEB || segment.range.size() < 20 || segment.range.end > bytes.size() ||
        !startsWith(bytes, at + 4, "JP"))
        return std::nullopt;
    Key key{bytes[at + 6],  bytes[at + 7],  bytes[at + 16],
            bytes[at + 17], bytes[at + 18], bytes[at + 19]};
    bool head =
        firstIndex(storeHeadMark, bytes, at + 20, std::min(at + 40, segment.range.end)).has_value();
    return Packet{&segment, key, bigEndian32(bytes, at + 8), head};
}

} // namespace

std::vector<Segment> segments(std::span<const std::uint8_t> bytes) {
    return JPEGHeader::segments(bytes, endsHeader);
}

std::vector<Segment> credentialSegments(const std::vector<Segment> &segments,
                                        std::span<const std::uint8_t> bytes) {
    std::vector<Packet> packets;
    std::set<Key> storeKeys, firstKeys;
    for (const Segment &segment : segments)
        if (std::optional<Packet> p = packet(segment, bytes)) {
            packets.push_back(*p);
            if (p->storeHead) {
                storeKeys.insert(p->key);
                if (p->sequence == 1)
                    firstKeys.insert(p->key);
            }
        }

    // A box instance number can be reused by a later box of another kind, so each packet
    // belongs to the box whose first packet came last before it.
    std::map<Key, bool> current;
    std::vector<Segment> kept;
    for (const Packet &p : packets) {
        if (p.storeHead)
            current[p.key] = true;
        else if (p.sequence == 1)
            current[p.key] = false;
        auto known = current.find(p.key);
        bool keep = known != current.end()
                        ? known->second
                        : storeKeys.contains(p.key) && !firstKeys.contains(p.key);
        if (keep)
            kept.push_back(*p.segment);
    }
    return kept;
}

std::vector<std::uint8_t> manifest(const std::vector<Segment> &credentials,
                                   std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> store;
    for (const Segment &segment : credentials) {
        std::optional<Packet> p = packet(segment, bytes);
        if (!p)
            continue;
        const std::size_t at = segment.range.start;
        std::size_t from = at + 20;
        if (p->storeHead)
            from = at + 12;
        else if (bigEndian32(bytes, at + 12) == 1) // an 8-byte extended box length follows
            from = at + 28;
        from = std::min(from, segment.range.end);
        store.insert(store.end(), bytes.begin() + std::ptrdiff_t(from),
                     bytes.begin() + std::ptrdiff_t(segment.range.end));
    }
    return store;
}

std::optional<std::string> sourceType(std::span<const std::uint8_t> in) {
    std::vector<std::string_view> recorded;
    std::size_t from = 0;
    while (std::optional<std::size_t> match = firstIndex(sourceTypeAddress, in, from, in.size())) {
        from = *match + sourceTypeAddress.size();
        for (std::string_view term : sourceTypeTerms)
            if (startsWith(in, from, term)) {
                recorded.push_back(term);
                break;
            }
    }
    if (recorded.empty())
        return std::nullopt;
    std::string_view chosen = recorded.front();
    for (std::string_view term : preferredTerms)
        if (std::find(recorded.begin(), recorded.end(), term) != recorded.end()) {
            chosen = term;
            break;
        }
    return std::string(sourceTypePrefix) + std::string(chosen);
}

std::optional<Replacement> replaceBroken(const Bytes &in) {
    const std::vector<Segment> all = segments(in.span());
    const std::vector<Segment> credentials = credentialSegments(all, in.span());
    if (credentials.empty())
        return std::nullopt;
    Replacement replacement;
    replacement.declaredSourceType = sourceType(manifest(credentials, in.span()));

    const std::size_t headEnd = all.back().range.end;
    std::vector<std::uint8_t> head(in.begin(), in.begin() + headEnd);
    for (auto segment = credentials.rbegin(); segment != credentials.rend(); ++segment)
        head.erase(head.begin() + std::ptrdiff_t(segment->range.start),
                   head.begin() + std::ptrdiff_t(segment->range.end));
    if (replacement.declaredSourceType)
        replacement.labelWritten = writeLabel(*replacement.declaredSourceType, head);
    head.insert(head.end(), in.begin() + headEnd, in.end());
    replacement.data = Bytes(std::move(head));
    return replacement;
}

} // namespace flenn::ContentCredentials
