// Every input format and variant reaches the metric as the same pixels: a file compared with a
// plain PPM of the same picture scores exactly 100 (or, where the variant stores the samples
// with more bits, all but 100). Colour chunks in PNG files and transparency change the pixels
// in the ways the metric prescribes.
#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

#include "Checker.h"
#include "Fixtures.h"
#include "ImageFiles.h"

namespace flenn::checker {
namespace {

namespace fs = std::filesystem;

struct Variant {
    std::string name;
    // Writes the two files of the pair into the folder and returns their names.
    std::function<std::pair<std::string, std::string>(const fs::path &)> write;
    double low, high; // the score must lie in [low, high]
};
void PrintTo(const Variant &variant, std::ostream *out) {
    *out << variant.name;
}

using Writer = std::function<void(const fs::path &, const Picture &)>;

// The colours of a picture as a plain PPM.
void writePlain(const fs::path &path, const Picture &picture) {
    Picture rgb = picture;
    if (picture.channels % 2 == 0) { // drop the alpha channel
        rgb.channels--;
        rgb.samples.clear();
        for (std::size_t i = 0; i < picture.samples.size(); i += picture.channels)
            rgb.samples.insert(rgb.samples.end(), &picture.samples[i],
                               &picture.samples[i] + rgb.channels);
    }
    writePNM(path, rgb.channels == 1 ? expanded(rgb) : rgb);
}

// `picture` written by `plain` (a plain PPM unless given) against it written by `variant`.
Variant same(std::string name, Picture picture, Writer variant, double low = 100, double high = 100,
             Writer plain = writePlain) {
    return {name,
            [=](const fs::path &folder) {
                plain(folder / "plain", picture);
                variant(folder / "variant", picture);
                return std::pair<std::string, std::string>{"plain", "variant"};
            },
            low, high};
}

// A PNG writer with the options `edit` sets.
auto png(std::function<void(PNGOptions &)> edit = [](PNGOptions &) {}) {
    PNGOptions options;
    edit(options);
    return [=](const fs::path &path, const Picture &picture) { writePNG(path, picture, options); };
}
auto pnm(int maxValue = 255, std::string comment = "") {
    return [=](const fs::path &path, const Picture &picture) {
        writePNM(path, picture, maxValue, comment);
    };
}

Picture blackAndWhite() {
    Picture grey = greyOf(photo(40, 30));
    for (std::uint8_t &v : grey.samples)
        v = v < 128 ? 0 : 255;
    return grey;
}

Picture fewColours() {
    Picture picture = photo(40, 30);
    for (std::uint8_t &v : picture.samples)
        v = std::uint8_t(v / 51 * 51);
    return picture;
}

// The alpha rule: pairs written with transparency.
Variant alpha(std::string name, std::function<void(const fs::path &)> write, double low,
              double high) {
    return {name,
            [=](const fs::path &folder) {
                write(folder);
                return std::pair<std::string, std::string>{"original", "distorted"};
            },
            low, high};
}

const Variant variants[] = {
    same("GreyPNG", greyOf(photo(40, 30)), png()),
    same("GreyPGM", greyOf(photo(40, 30)), pnm()),
    same("PNMWithComment", photo(40, 30), pnm(255, "made by a test")),
    same("RGBPNG", photo(40, 30), png()),
    same("InterlacedPNG", photo(40, 30), png([](PNGOptions &o) { o.interlaced = true; })),
    same("PalettePNG", fewColours(), png([](PNGOptions &o) { o.palette = true; })),
    same("OneBitGreyPNG", blackAndWhite(), png([](PNGOptions &o) { o.bitDepth = 1; })),
    same("SixteenBitPNG", photo(40, 30), png([](PNGOptions &o) { o.bitDepth = 16; }), 100, 100,
         pnm(65535)),
    same("SixteenBitGreyPNG", greyOf(photo(40, 30)), png([](PNGOptions &o) { o.bitDepth = 16; }),
         100, 100, pnm(65535)),
    // The high byte carries the 8-bit value; the low byte adds less than one 8-bit level.
    same("SixteenBitAgainstEightBit", photo(40, 30), pnm(65535), 90),
    same("FourBitPGM", greyOf(fewColours()), pnm(15)),
    same("OpaqueRGBAPNG", withAlpha(photo(40, 30), 255), png()),
    same("OpaqueGreyAlphaPNG", withAlpha(greyOf(photo(40, 30)), 255), png()),
    same("OpaquePaletteWithTransparencyChunk", withAlpha(fewColours(), 255),
         png([](PNGOptions &o) { o.palette = true; })),
    same("SRGBChunk", photo(40, 30), png([](PNGOptions &o) {
             o.gamma = 0.45455;
             o.srgb = true;
         })),
    same("ProfileOutranksGamma", photo(40, 30), png([](PNGOptions &o) {
             o.gamma = 0.45455;
             o.icc = minimalRGBProfile();
         })),
    // gAMA alone is a pure power law 2.2, not the sRGB curve: the same samples look different.
    same("GammaChunkAlone", photo(40, 30), png([](PNGOptions &o) { o.gamma = 0.45455; }), 70, 99),
    {"JPEGNamedLikeAPNG",
     [](const fs::path &folder) {
         fixtures::JPEGOptions options;
         options.width = 40;
         options.height = 30;
         Bytes jpeg = fixtures::jpeg(options);
         fixtures::writeFile(folder / "photo.png", jpeg);
         fixtures::writeFile(folder / "photo.jpg", jpeg);
         return std::pair<std::string, std::string>{"photo.jpg", "photo.png"};
     },
     100, 100},
    // Data cut off inside the image: decoding goes on as in every libjpeg program, and the
    // missing part counts as damage.
    {"JPEGCutInsideTheImage",
     [](const fs::path &folder) {
         fixtures::JPEGOptions options;
         options.width = 64;
         options.height = 48;
         Bytes jpeg = fixtures::jpeg(options);
         fixtures::writeFile(folder / "whole.jpg", jpeg);
         fixtures::writeFile(folder / "cut.jpg", jpeg.prefix(jpeg.size() * 2 / 3));
         return std::pair<std::string, std::string>{"whole.jpg", "cut.jpg"};
     },
     -1000, 95},
    // Wholly transparent pixels are the background whatever their colour.
    alpha(
        "TransparentPixelsOfAnyColour",
        [](const fs::path &folder) {
            writePNG(folder / "original", withAlpha(photo(40, 30, 1), 0));
            writePNG(folder / "distorted", withAlpha(photo(40, 30, 2), 0));
        },
        100, 100),
    // Half transparency lets colour differences through, weakened.
    alpha(
        "HalfTransparentDifferencesCount",
        [](const fs::path &folder) {
            writePNG(folder / "original", withAlpha(photo(40, 30, 1), 128));
            writePNG(folder / "distorted", withAlpha(photo(40, 30, 2), 128));
        },
        -1000, 95),
};

class Format : public testing::TestWithParam<Variant> {};

TEST_P(Format, ReachesTheMetricAsTheSamePixels) {
    fixtures::TemporaryFolder folder;
    auto [original, distorted] = GetParam().write(folder.path());
    Outcome outcome = run(folder / original, folder / distorted);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    ASSERT_TRUE(outcome.score()) << outcome.out;
    EXPECT_GE(*outcome.score(), GetParam().low);
    EXPECT_LE(*outcome.score(), GetParam().high);
}

INSTANTIATE_TEST_SUITE_P(Ssimulacra2, Format, testing::ValuesIn(variants),
                         [](const testing::TestParamInfo<Variant> &info) {
                             return info.param.name;
                         });

// An original with alpha makes the checker read both images twice; an opaque one scores exactly
// like the same picture without alpha, whatever the format of the other image.
struct Rewound {
    std::string name;
    std::function<void(const fs::path &)> write; // writes "distorted", 64 x 48
};
void PrintTo(const Rewound &r, std::ostream *out) {
    *out << r.name;
}

fixtures::JPEGOptions jpegOptions(bool progressive) {
    fixtures::JPEGOptions options;
    options.width = 64;
    options.height = 48;
    options.progressive = progressive;
    return options;
}

const Rewound rewound[] = {
    {"JPEG", [](const fs::path &p) { fixtures::writeFile(p, fixtures::jpeg(jpegOptions(false))); }},
    {"ProgressiveJPEG",
     [](const fs::path &p) { fixtures::writeFile(p, fixtures::jpeg(jpegOptions(true))); }},
    {"PNG", [](const fs::path &p) { writePNG(p, photo(64, 48, 2)); }},
    {"InterlacedPNG",
     [](const fs::path &p) {
         PNGOptions options;
         options.interlaced = true;
         writePNG(p, photo(64, 48, 2), options);
     }},
    {"PPM", [](const fs::path &p) { writePNM(p, photo(64, 48, 2)); }},
};

class Rewinding : public testing::TestWithParam<Rewound> {};

TEST_P(Rewinding, SecondPassSeesTheSamePixels) {
    fixtures::TemporaryFolder folder;
    writePNG(folder / "plain.png", photo(64, 48));
    writePNG(folder / "opaque.png", withAlpha(photo(64, 48), 255));
    GetParam().write(folder / "distorted");
    Outcome plain = run(folder / "plain.png", folder / "distorted");
    Outcome opaque = run(folder / "opaque.png", folder / "distorted");
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(opaque.status, 0) << opaque.err;
    EXPECT_LT(*plain.score(), 100);
    EXPECT_EQ(opaque.out, plain.out);
}

INSTANTIATE_TEST_SUITE_P(Ssimulacra2, Rewinding, testing::ValuesIn(rewound),
                         [](const testing::TestParamInfo<Rewound> &info) {
                             return info.param.name;
                         });

// Only the distorted image has alpha: it is flattened onto middle grey (0.5 encoded, between
// 8-bit levels 127 and 128), so a wholly transparent one looks most like those greys.
TEST(Transparency, OfTheDistortedImageAloneShowsMiddleGrey) {
    fixtures::TemporaryFolder folder;
    writePNG(folder / "transparent.png", withAlpha(photo(40, 30), 0));
    auto scoreAgainstGrey = [&](int level) {
        Picture grey{40, 30, 3, std::vector<std::uint8_t>(40 * 30 * 3, std::uint8_t(level))};
        writePNM(folder / "grey.ppm", grey);
        Outcome outcome = run(folder / "grey.ppm", folder / "transparent.png");
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        return outcome.score().value_or(-1000);
    };
    double middle = std::max(scoreAgainstGrey(127), scoreAgainstGrey(128));
    EXPECT_GT(middle, 95);
    EXPECT_GT(middle, scoreAgainstGrey(118));
    EXPECT_GT(middle, scoreAgainstGrey(138));
}

} // namespace
} // namespace flenn::checker
