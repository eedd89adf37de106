#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "JPEGHeader.h"

namespace flenn {

// The index of a multi-picture file (the MP Extensions of CIPA DC-007) as held in the first
// APP2 segment that starts with "MPF" and a zero byte. Offsets count from the buffer's start.
struct MPFIndex {
    struct Entry {
        std::uint32_t attribute = 0; // the low 24 bits are the MP type code
        std::uint32_t size = 0;      // the image's byte count
        std::uint32_t offset = 0;    // the image's start relative to `header`; 0 for the first
        friend bool operator==(const Entry &, const Entry &) = default;
    };

    std::size_t header = 0; // offset of the byte-order mark, 8 bytes after the segment's 0xFF
    bool littleEndian = false;
    std::size_t entryTable = 0; // offset of the first 16-byte MP entry
    std::vector<Entry> entries;

    // The index of a JPEG, or none when its first MPF segment is missing or malformed.
    static std::optional<MPFIndex> read(std::span<const std::uint8_t> in);

    // The first APP2 segment whose payload begins with "MPF" and a zero byte.
    static std::optional<JPEGHeader::Segment> segment(std::span<const std::uint8_t> in);

    // Writes the entry's size and offset into its 16-byte record at `at`, in this index's byte
    // order; the attribute and the dependent-image fields stay as they are. The record must lie
    // inside `into` (std::out_of_range otherwise).
    void write(const Entry &entry, std::size_t at, std::span<std::uint8_t> into) const;
};

} // namespace flenn
