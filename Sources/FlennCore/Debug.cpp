#include "Debug.h"

#include <cstdio>
#include <cstdlib>

#include "Compressor.h"

namespace flenn::Compressor {

bool debug() { return std::getenv("FLENN_DEBUG") != nullptr; }

void printDebugLine(std::initializer_list<std::string_view> items) {
    std::string line;
    for (std::string_view item : items) {
        if (!line.empty())
            line += ' ';
        line += item;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

std::string debugNumber(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace flenn::Compressor
