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

int fail(const ImageError &error, const std::string &role) {
    switch (error.kind) {
    case ImageError::Kind::unreadable:
        return fail("Could not read the " + role + " image: " + error.path + " (" + error.what() +
                    ")");
    case ImageError::Kind::undecodable:
        return fail("Could not decode the " + role + " image: " + error.path + " (" + error.what() +
                    ")");
    case ImageError::Kind::cmyk:
        return fail("The " + role +
                    " image is a CMYK JPEG, which cannot be compared: " + error.path);
    }
    return fail(error.what());
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3)
        return fail("Usage: ssimulacra2 ORIGINAL DISTORTED (JPEG, PNG or binary PNM files)");
    const std::string originalPath = argv[1];
    // Headers first, so that the size checks come before any pixel is decoded; damaged pixel
    // data shows up while comparing.
    try {
        auto original = openImage(originalPath);
        if (original->info().width < 8 || original->info().height < 8)
            return fail("Minimum image size is 8x8 pixels");
        auto distorted = openImage(argv[2]);
        if (distorted->info().width != original->info().width ||
            distorted->info().height != original->info().height)
            return fail("Image size mismatch");
        double score = compare(*original, *distorted);
        std::printf("%.8f\n", score);
        return 0;
    } catch (const ImageError &error) {
        return fail(error, error.path == originalPath ? "original" : "distorted");
    } catch (const std::bad_alloc &) {
        return fail("Not enough memory to compare the images");
    }
}
