// What the quality guard relies on when the checker refuses its input: exit status 1, nothing on
// standard output, one line on standard error, and the word "decode" exactly when a file could
// not be decoded (the guard then retries on pixels it decoded itself).
#include <algorithm>
#include <cctype>
#include <functional>

#include <gtest/gtest.h>

#include "Checker.h"
#include "Fixtures.h"
#include "ImageFiles.h"

namespace flenn::checker {
namespace {

namespace fs = std::filesystem;

class Files {
  public:
    Files() {
        writePNM(path("photo.ppm"), photo(64, 48));
        writePNM(path("wider.ppm"), photo(65, 48));
        writePNM(path("tiny.ppm"), photo(7, 8));
        writePNM(path("flat.ppm"), photo(8, 7));
        fixtures::JPEGOptions options;
        options.width = 64;
        options.height = 48;
        Bytes jpeg = fixtures::jpeg(options);
        fixtures::writeFile(path("photo.jpg"), jpeg);
        fixtures::writeFile(path("truncated.jpg"), jpeg.prefix(200));
        options.color = fixtures::Color::cmyk;
        fixtures::writeFile(path("cmyk.jpg"), fixtures::jpeg(options));
        writePNG(path("photo.png"), photo(64, 48));
        Bytes png = fixtures::readFile(path("photo.png"));
        std::vector<std::uint8_t> damaged(png.begin(), png.end());
        damaged[damaged.size() / 2] ^= 0x55; // inside the image data: a CRC error
        fixtures::writeFile(path("damaged.png"), Bytes(std::move(damaged)));
        writeText("text.txt", "not an image\n");
        writeText("maxval.pgm", "P5\n8 8\n1000\n" + std::string(128, '\0'));
        writeText("ascii.ppm", "P3\n8 8\n255\n" + std::string(192, '0'));
        writeText("short.ppm", "P6\n8 8\n255\n" + std::string(100, '\0'));
        fs::create_directory(path("folder"));
    }
    std::string path(const std::string &name) const { return (folder_ / name).string(); }

  private:
    void writeText(const std::string &name, const std::string &text) {
        fixtures::writeFile(path(name), Bytes(std::vector<std::uint8_t>(text.begin(), text.end())));
    }
    fixtures::TemporaryFolder folder_;
};

struct Failure {
    std::string name;
    std::vector<std::string> arguments; // file names in the folder, or literal text
    std::string line;                   // what the line on standard error contains
    bool decode;                        // whether it contains "decode"
};
void PrintTo(const Failure &failure, std::ostream *out) {
    *out << failure.name;
}

const Failure failures[] = {
    {"NoArguments", {}, "Usage: ssimulacra2 ORIGINAL DISTORTED", false},
    {"OneArgument", {"photo.ppm"}, "Usage:", false},
    {"ThreeArguments", {"photo.ppm", "photo.ppm", "photo.ppm"}, "Usage:", false},
    {"OriginalMissing", {"missing.png", "photo.ppm"}, "Could not read the original image: ", false},
    {"DistortedMissing",
     {"photo.ppm", "missing.png"},
     "Could not read the distorted image: ",
     false},
    {"OriginalIsAFolder", {"folder", "photo.ppm"}, "Could not read the original image: ", false},
    {"OriginalNotAnImage",
     {"text.txt", "photo.ppm"},
     "Could not decode the original image: ",
     true},
    {"DistortedJPEGTruncatedInItsHeader",
     {"photo.ppm", "truncated.jpg"},
     "Could not decode the distorted image: ",
     true},
    {"DistortedPNGDamaged",
     {"photo.ppm", "damaged.png"},
     "Could not decode the distorted image: ",
     true},
    {"DistortedPNMWithOddMaximum",
     {"photo.ppm", "maxval.pgm"},
     "Could not decode the distorted image: ",
     true},
    {"DistortedASCIIPNM",
     {"photo.ppm", "ascii.ppm"},
     "Could not decode the distorted image: ",
     true},
    {"DistortedPNMTooShort",
     {"photo.ppm", "short.ppm"},
     "Could not decode the distorted image: ",
     true},
    {"OriginalPNMTooShort",
     {"short.ppm", "photo.ppm"},
     "Could not decode the original image: ",
     true},
    {"SizesDiffer", {"photo.ppm", "wider.ppm"}, "Image size mismatch", false},
    {"OriginalNarrowerThanEight",
     {"tiny.ppm", "missing.png"},
     "Minimum image size is 8x8 pixels",
     false},
    {"OriginalLowerThanEight", {"flat.ppm", "flat.ppm"}, "Minimum image size is 8x8 pixels", false},
    {"DistortedSmallerThanEight", {"photo.ppm", "tiny.ppm"}, "Image size mismatch", false},
    {"OriginalCMYK",
     {"cmyk.jpg", "photo.jpg"},
     "The original image is a CMYK JPEG, which cannot be compared: ",
     false},
    {"DistortedCMYK",
     {"photo.jpg", "cmyk.jpg"},
     "The distorted image is a CMYK JPEG, which cannot be compared: ",
     false},
};

class Refusal : public testing::TestWithParam<Failure> {
  protected:
    static void SetUpTestSuite() { files = new Files; }
    static void TearDownTestSuite() {
        delete files;
        files = nullptr;
    }
    static Files *files;
};
Files *Refusal::files = nullptr;

TEST_P(Refusal, ExitsWithOneLineOnStandardError) {
    const Failure &f = GetParam();
    std::vector<std::string> arguments;
    for (const std::string &name : f.arguments)
        arguments.push_back(files->path(name));
    Outcome outcome = run(arguments);

    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    ASSERT_FALSE(outcome.err.empty());
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    EXPECT_EQ(outcome.err.back(), '\n');
    EXPECT_NE(outcome.err.find(f.line), std::string::npos) << outcome.err;
    std::string lowered = outcome.err;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    EXPECT_EQ(lowered.find("decode") != std::string::npos, f.decode) << outcome.err;
    // A complaint about one file names it.
    if (f.line.find("image: ") != std::string::npos) {
        const std::string &named =
            f.line.find("original") != std::string::npos ? arguments[0] : arguments[1];
        EXPECT_NE(outcome.err.find(named), std::string::npos) << outcome.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Ssimulacra2, Refusal, testing::ValuesIn(failures),
                         [](const testing::TestParamInfo<Failure> &info) {
                             return info.param.name;
                         });

} // namespace
} // namespace flenn::checker
