// ssimulacra2 ORIGINAL DISTORTED: prints how close the distorted image looks to the original,
// as a score up to 100 (identical pixels), on the first line of standard output. Every failure
// is one line on standard error and exit status 1; a line about a file that could not be decoded
// contains the word "decode", so a caller can retry with pixels decoded elsewhere.
#include <cstdio>
#include <new>
#include <string>

#include "Comparison.h"
#include "ImageFile.h"

using namespace flenn::ssimulacra2;

namespace {

int fail(const std::string &line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    return 1;
}

std::string complaint(const ImageError &error, const std::string &role, const std::string &path) {
    switch (error.kind) {
    case ImageError::Kind::unreadable:
        return "Could not read the " + role + " image: " + path + " (" + error.what() + ")";
    case ImageError::Kind::undecodable:
        return "Could not decode the " + role + " image: " + path + " (" + error.what() + ")";
    case ImageError::Kind::cmyk:
        return "The " + role + " image is a CMYK JPEG, which cannot be compared: " + path;
    }
    return error.what();
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3)
        return fail("Usage: ssimulacra2 ORIGINAL DISTORTED (JPEG, PNG or binary PNM files)");
    try {
        Image original, distorted;
        try {
            original = readImage(argv[1]);
        } catch (const ImageError &error) {
            return fail(complaint(error, "original", argv[1]));
        }
        if (original.width < 8 || original.height < 8)
            return fail("Minimum image size is 8x8 pixels");
        try {
            distorted = readImage(argv[2]);
        } catch (const ImageError &error) {
            return fail(complaint(error, "distorted", argv[2]));
        }
        if (distorted.width != original.width || distorted.height != original.height)
            return fail("Image size mismatch");
        std::printf("%.8f\n", compare(original, distorted));
        return 0;
    } catch (const std::bad_alloc &) {
        return fail("Not enough memory to compare the images");
    }
}
