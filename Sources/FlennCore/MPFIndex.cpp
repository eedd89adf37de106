#include "MPFIndex.h"

#include <stdexcept>

namespace flenn {

namespace {

constexpr std::uint16_t numberOfImagesTag = 0xB001;
constexpr std::uint16_t entryTableTag = 0xB002;
constexpr std::size_t maximumImages = 63;

bool isMPFSegment(const JPEGHeader::Segment &segment, std::span<const std::uint8_t> in) {
    if (segment.marker != 0xE2 || segment.range.size() < 8)
        return false;
    std::size_t p = segment.payloadStart();
    return in[p] == 'M' && in[p + 1] == 'P' && in[p + 2] == 'F' && in[p + 3] == 0;
}

// Reads integers of the index's byte order; callers check the bounds first.
struct Reader {
    std::span<const std::uint8_t> in;
    bool littleEndian;

    std::uint32_t u16(std::size_t at) const {
        return littleEndian ? in[at] | in[at + 1] << 8 : in[at] << 8 | in[at + 1];
    }
    std::uint32_t u32(std::size_t at) const {
        return littleEndian ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    }
};

} // namespace

std::optional<JPEGHeader::Segment> MPFIndex::segment(std::span<const std::uint8_t> in) {
    for (const JPEGHeader::Segment &segment : JPEGHeader::segments(in))
        if (isMPFSegment(segment, in))
            return segment;
    return std::nullopt;
}

std::optional<MPFIndex> MPFIndex::read(std::span<const std::uint8_t> in) {
    std::optional<JPEGHeader::Segment> found = segment(in);
    if (!found)
        return std::nullopt;
    const std::size_t end = found->range.end;
    MPFIndex index;
    index.header = found->range.start + 8;
    if (index.header + 8 > end)
        return std::nullopt;
    if (in[index.header] == 'I' && in[index.header + 1] == 'I')
        index.littleEndian = true;
    else if (!(in[index.header] == 'M' && in[index.header + 1] == 'M'))
        return std::nullopt;
    Reader reader{in, index.littleEndian};

    const std::size_t ifd = index.header + reader.u32(index.header + 4);
    if (ifd + 2 > end)
        return std::nullopt;
    std::size_t count = 0;
    const std::size_t fields = reader.u16(ifd);
    for (std::size_t k = 0; k < fields; k++) {
        const std::size_t field = ifd + 2 + 12 * k;
        if (field + 12 > end)
            return std::nullopt;
        if (reader.u16(field) == numberOfImagesTag)
            count = reader.u32(field + 8);
        else if (reader.u16(field) == entryTableTag)
            index.entryTable = index.header + reader.u32(field + 8);
    }
    if (count < 1 || count > maximumImages || index.entryTable <= index.header ||
        index.entryTable + 16 * count > end)
        return std::nullopt;
    for (std::size_t i = 0; i < count; i++) {
        const std::size_t record = index.entryTable + 16 * i;
        index.entries.push_back(
            {reader.u32(record), reader.u32(record + 4), reader.u32(record + 8)});
    }
    return index;
}

void MPFIndex::write(const Entry &entry, std::size_t at, std::span<std::uint8_t> into) const {
    if (at > into.size() || into.size() - at < 12)
        throw std::out_of_range("MP entry record outside the buffer");
    auto put = [&](std::size_t where, std::uint32_t value) {
        for (int b = 0; b < 4; b++)
            into[where + (littleEndian ? b : 3 - b)] = std::uint8_t(value >> (8 * b));
    };
    put(at + 4, entry.size);
    put(at + 8, entry.offset);
}

} // namespace flenn
