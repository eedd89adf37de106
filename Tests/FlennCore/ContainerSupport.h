#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "Bytes.h"
#include "Fixtures.h"

// Multi-picture files built on the spot, the committed container fixtures, and exiftool as an
// independent reader of what the container code writes.
namespace flenn::container {

// A file of Tests/Fixtures, for example "c2pa/C.jpg".
Bytes fixture(const std::string &relative);

// Layout of the MP index this builder writes, counted from the MP header (the byte-order mark).
inline constexpr std::size_t ifdCountAt = 8;         // the IFD holds three fields:
inline constexpr std::size_t versionFieldAt = 10;    // 0xB000, MPFVersion "0100"
inline constexpr std::size_t countFieldAt = 22;      // 0xB001, NumberOfImages
inline constexpr std::size_t entryTableFieldAt = 34; // 0xB002, MPEntry
inline constexpr std::size_t entryTableAt = 50;      // after the next-IFD offset

inline constexpr std::uint32_t primaryImage = 0x20030000; // dependent parent, baseline primary
inline constexpr std::uint32_t thumbnailVGA = 0x00010001;
inline constexpr std::uint32_t thumbnailFullHD = 0x00010002;
inline constexpr std::uint32_t disparityImage = 0x00020002;

struct Picture {
    std::uint32_t attribute = thumbnailVGA;
    Bytes bytes; // empty: listed with size 0 and offset 0, nothing in the file
};

struct MultiPictureLayout {
    bool littleEndian = true;
    std::vector<fixtures::Segment> before; // between the primary's JFIF APP0 and its index
    std::vector<fixtures::Segment> after;  // between its index and its tables
    std::vector<Picture> following;
    fixtures::JPEGOptions primary = {.width = 96, .height = 64}; // its index is added to these
};

struct BuiltFile {
    Bytes file;
    Bytes primary;
    std::size_t header = 0;          // offset of the MP header in the file
    std::vector<std::size_t> starts; // where each following picture starts (0 for size 0)
};

// A primary JPEG with an MP index after its leading segments, followed by the pictures.
BuiltFile multiPictureFile(const MultiPictureLayout &layout);

// A small JPEG to follow a primary, different for every seed.
Bytes preview(unsigned seed);

// Integers as the index stores them, and a copy of bytes with some replaced.
std::uint32_t get32(const Bytes &bytes, std::size_t at, bool littleEndian);
Bytes with32(const Bytes &bytes, std::size_t at, std::uint32_t value, bool littleEndian);
Bytes with16(const Bytes &bytes, std::size_t at, std::uint16_t value, bool littleEndian);
Bytes withBytes(const Bytes &bytes, std::size_t at, const std::string &replacement);
Bytes without(const Bytes &bytes, std::size_t start, std::size_t end);
Bytes inserted(const Bytes &bytes, std::size_t at, const Bytes &insertion);

// A marker segment: 0xFF, the marker, the big-endian length, the payload.
Bytes segment(std::uint8_t marker, const std::string &payload);

// A big-endian integer of `width` bytes.
std::string bigEndian(std::uint32_t value, int width);
// The payload of an APP11 JPEG XT packet carrying part of a JUMBF box.
std::string packet(int instance, std::uint32_t sequence, std::uint32_t boxLength,
                   const std::string &content, const std::string &boxType = "jumb");
// The content of a box's first packet, whose description box carries `label` ("c2pa" for a
// manifest store), followed by `rest`.
std::string described(const std::string &label, const std::string &rest);

// Whether exiftool can be run; the tests that need it skip themselves otherwise.
bool exiftoolAvailable();
// exiftool's standard output for `arguments` applied to the bytes written to a temporary file.
std::string exiftool(const std::string &arguments, const Bytes &file);

} // namespace flenn::container
