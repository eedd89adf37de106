#include "ContainerSupport.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace flenn::container {

namespace {

void put(std::string &out, std::uint32_t value, int width, bool littleEndian) {
    for (int b = 0; b < width; b++) {
        int shift = 8 * (littleEndian ? b : width - 1 - b);
        out.push_back(char(value >> shift & 0xFF));
    }
}

struct Entry {
    std::uint32_t attribute, size, offset;
};

// The APP2 payload of an MP index with the three usual IFD fields and `entries`.
std::string indexPayload(bool littleEndian, const std::vector<Entry> &entries) {
    std::string p = std::string("MPF", 4) + (littleEndian ? "II" : "MM");
    put(p, 0x2A, 2, littleEndian);
    put(p, 8, 4, littleEndian); // IFD right after the header
    put(p, 3, 2, littleEndian);
    put(p, 0xB000, 2, littleEndian), put(p, 7, 2, littleEndian), put(p, 4, 4, littleEndian);
    p += "0100";
    put(p, 0xB001, 2, littleEndian), put(p, 4, 2, littleEndian), put(p, 1, 4, littleEndian);
    put(p, std::uint32_t(entries.size()), 4, littleEndian);
    put(p, 0xB002, 2, littleEndian), put(p, 7, 2, littleEndian);
    put(p, std::uint32_t(16 * entries.size()), 4, littleEndian);
    put(p, std::uint32_t(entryTableAt), 4, littleEndian);
    put(p, 0, 4, littleEndian); // no next IFD
    for (const Entry &e : entries) {
        put(p, e.attribute, 4, littleEndian), put(p, e.size, 4, littleEndian);
        put(p, e.offset, 4, littleEndian), put(p, 0, 4, littleEndian);
    }
    return p;
}

Bytes primaryWith(const MultiPictureLayout &layout, const std::vector<Entry> &entries) {
    fixtures::JPEGOptions options = layout.primary;
    options.segments = layout.before;
    options.segments.push_back({0xE2, indexPayload(layout.littleEndian, entries)});
    options.segments.insert(options.segments.end(), layout.after.begin(), layout.after.end());
    return fixtures::jpeg(options);
}

} // namespace

Bytes fixture(const std::string &relative) {
    return fixtures::readFile(std::filesystem::path(FLENN_FIXTURES) / relative);
}

Bytes preview(unsigned seed) {
    fixtures::JPEGOptions options;
    options.width = 24;
    options.height = 16;
    options.seed = seed;
    return fixtures::jpeg(options);
}

BuiltFile multiPictureFile(const MultiPictureLayout &layout) {
    std::vector<Entry> entries(layout.following.size() + 1, Entry{0, 0, 0});
    Bytes draft = primaryWith(layout, entries);
    BuiltFile built;
    for (auto [marker, at] : fixtures::headerMarkers(draft))
        if (marker == 0xE2 && draft[at + 4] == 'M' && draft[at + 5] == 'P')
            built.header = at + 8;

    entries[0] = {primaryImage, std::uint32_t(draft.size()), 0};
    std::size_t at = draft.size();
    std::vector<Bytes> parts{Bytes()};
    for (std::size_t i = 0; i < layout.following.size(); i++) {
        const Picture &picture = layout.following[i];
        if (picture.bytes.empty()) {
            entries[i + 1] = {picture.attribute, 0, 0};
            built.starts.push_back(0);
            continue;
        }
        entries[i + 1] = {picture.attribute, std::uint32_t(picture.bytes.size()),
                          std::uint32_t(at - built.header)};
        built.starts.push_back(at);
        parts.push_back(picture.bytes);
        at += picture.bytes.size();
    }
    built.primary = primaryWith(layout, entries);
    if (built.primary.size() != draft.size())
        throw std::logic_error("the primary changed size with its index values");
    parts[0] = built.primary;
    built.file = fixtures::concatenated(parts);
    return built;
}

std::uint32_t get32(const Bytes &bytes, std::size_t at, bool littleEndian) {
    std::uint32_t value = 0;
    for (int b = 0; b < 4; b++)
        value |= std::uint32_t(bytes[at + b]) << (8 * (littleEndian ? b : 3 - b));
    return value;
}

Bytes withBytes(const Bytes &bytes, std::size_t at, const std::string &replacement) {
    std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    std::copy(replacement.begin(), replacement.end(), copy.begin() + std::ptrdiff_t(at));
    return Bytes(std::move(copy));
}

Bytes with32(const Bytes &bytes, std::size_t at, std::uint32_t value, bool littleEndian) {
    std::string encoded;
    put(encoded, value, 4, littleEndian);
    return withBytes(bytes, at, encoded);
}

Bytes with16(const Bytes &bytes, std::size_t at, std::uint16_t value, bool littleEndian) {
    std::string encoded;
    put(encoded, value, 2, littleEndian);
    return withBytes(bytes, at, encoded);
}

Bytes without(const Bytes &bytes, std::size_t start, std::size_t end) {
    return fixtures::concatenated({bytes.prefix(start), bytes.suffix(end)});
}

Bytes inserted(const Bytes &bytes, std::size_t at, const Bytes &insertion) {
    return fixtures::concatenated({bytes.prefix(at), insertion, bytes.suffix(at)});
}

Bytes segment(std::uint8_t marker, const std::string &payload) {
    std::string s{char(0xFF), char(marker)};
    put(s, std::uint32_t(payload.size() + 2), 2, false);
    return Bytes::copying(s + payload);
}

std::string bigEndian(std::uint32_t value, int width) {
    std::string out;
    put(out, value, width, false);
    return out;
}

std::string packet(int instance, std::uint32_t sequence, std::uint32_t boxLength,
                   const std::string &content, const std::string &boxType) {
    return "JP" + bigEndian(std::uint32_t(instance), 2) + bigEndian(sequence, 4) +
           bigEndian(boxLength, 4) + boxType + content;
}

std::string described(const std::string &label, const std::string &rest) {
    return bigEndian(30, 4) + "jumd" + label +
           std::string("\0\x11\0\x10\x80\0\0\xaa\0\x38\x9b\x71", 12) + rest;
}

bool exiftoolAvailable() {
    static const bool available = std::system("exiftool -ver >/dev/null 2>&1") == 0;
    return available;
}

std::string exiftool(const std::string &arguments, const Bytes &file) {
    fixtures::TemporaryFolder folder;
    std::filesystem::path path = folder / "photo.jpg";
    fixtures::writeFile(path, file);
    std::string command = "exiftool " + arguments + " '" + path.string() + "' 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run exiftool");
    std::string output;
    std::array<char, 4096> buffer;
    while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
        output.append(buffer.data(), n);
    pclose(pipe);
    return output;
}

} // namespace flenn::container
