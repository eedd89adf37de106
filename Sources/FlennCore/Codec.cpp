#include "Codec.h"

#include <array>

#include <flenn.h>

namespace flenn::Codec {

bool decode(const std::filesystem::path &jpeg, const std::filesystem::path &pnm) {
    std::array<char, 256> message{};
    return flenn_decode_pnm(jpeg.c_str(), pnm.c_str(), message.data(), message.size()) == 0;
}

} // namespace flenn::Codec
