#include "Usage.h"

#include <cstdio>
#include <cstdlib>

[[noreturn]] void printUsageAndExit() {
    std::fputs("Usage: flenn [--preset compact|balanced|high|lossless] [--jobs N] -o EXPORT_FOLDER "
               "PHOTO_OR_FOLDER...\n"
               "       flenn [--preset ...] [--jobs N] --in-place PHOTO_OR_FOLDER...\n",
               stderr);
    std::exit(2);
}
