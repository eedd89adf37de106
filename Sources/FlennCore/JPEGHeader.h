#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// The marker segments at the head of a JPEG stream, found by their length fields alone.
namespace flenn::JPEGHeader {

// A half-open range of byte offsets, start included, end excluded.
struct Range {
    std::size_t start = 0;
    std::size_t end = 0;
    std::size_t size() const { return end - start; }
    friend bool operator==(const Range &, const Range &) = default;
};

struct Segment {
    std::uint8_t marker = 0; // the byte after 0xFF, 0xE2 for APP2
    Range range;             // from the 0xFF to one past the last payload byte
    std::size_t payloadStart() const { return range.start + 4; }
    friend bool operator==(const Segment &, const Segment &) = default;
};

// Every complete segment before the first scan or end-of-image marker, in file order. A
// truncated segment and everything after it are left out; input that does not start with
// SOI has none.
std::vector<Segment> segments(std::span<const std::uint8_t> in);

// The same scan, ending it at every marker for which `endsHeader` is true instead.
std::vector<Segment> segments(std::span<const std::uint8_t> in,
                              bool (*endsHeader)(std::uint8_t marker));

} // namespace flenn::JPEGHeader
