#include "JPEGHeader.h"

namespace flenn::JPEGHeader {

std::vector<Segment> segments(std::span<const std::uint8_t> in) {
    return segments(in, [](std::uint8_t marker) { return marker == 0xD9 || marker == 0xDA; });
}

std::vector<Segment> segments(std::span<const std::uint8_t> in,
                              bool (*endsHeader)(std::uint8_t marker)) {
    std::vector<Segment> found;
    if (in.size() < 4 || in[0] != 0xFF || in[1] != 0xD8)
        return found;
    std::size_t i = 2;
    while (i + 4 <= in.size() && in[i] == 0xFF) {
        if (in[i + 1] == 0xFF) { // fill byte
            i += 1;
            continue;
        }
        std::uint8_t marker = in[i + 1];
        if (endsHeader(marker))
            break;
        std::size_t length = std::size_t(in[i + 2]) << 8 | in[i + 3];
        if (length < 2 || i + 2 + length > in.size())
            break;
        found.push_back({marker, {i, i + 2 + length}});
        i += 2 + length;
    }
    return found;
}

} // namespace flenn::JPEGHeader
