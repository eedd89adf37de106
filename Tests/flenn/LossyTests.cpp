#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "Fixtures.h"
#include "JPEGHeader.h"
#include "JPEGSession.h"
#include "RunFlenn.h"

namespace flenn {
namespace {

// The score of our own checker for a result against its source.
double checkerScore(const std::filesystem::path &reference, const std::filesystem::path &candidate) {
    const char *bin = std::getenv("FLENN_BIN");
    ChildProcess child(std::filesystem::path(bin ? bin : "build/bin") / "ssimulacra2",
                       {reference.string(), candidate.string()}, {4096, false}, {4096, true});
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    child.waitUntil(deadline);
    EXPECT_EQ(child.exitStatus(), 0) << child.error(deadline).value_or("");
    return std::stod(child.output(deadline).value_or("nan"));
}

// The application and comment segments of a file, in order, as their bytes.
std::vector<std::string> metadata(const Bytes &jpeg) {
    std::vector<std::string> found;
    for (const auto &segment : JPEGHeader::segments(jpeg.span()))
        if ((segment.marker >= 0xE0 && segment.marker <= 0xEF) || segment.marker == 0xFE)
            found.emplace_back(jpeg.begin() + segment.range.start, jpeg.begin() + segment.range.end);
    return found;
}

// Output lines keyed by the photo's file name: the outcome word and the score printed.
std::map<std::string, std::pair<std::string, double>> outcomes(const std::string &printed) {
    std::map<std::string, std::pair<std::string, double>> lines;
    std::istringstream in(printed);
    for (std::string line; std::getline(in, line);) {
        std::size_t arrow = line.find("   ");
        std::string path = line.substr(0, arrow);
        std::vector<std::string> columns;
        for (std::size_t at = 0; at != std::string::npos;) {
            std::size_t next = line.find("   ", at);
            columns.push_back(line.substr(at, next == std::string::npos ? next : next - at));
            at = next == std::string::npos ? next : next + 3;
        }
        lines[std::filesystem::path(path).filename().string()] = {columns.at(3), std::stod(columns.at(2))};
    }
    return lines;
}

class LossyPreset : public testing::TestWithParam<std::pair<std::string, double>> {};

// Every lossy result of the checker-scored presets scores at least the preset's floor against
// its source, decodes, keeps the source's metadata with the signature comment added, and is
// not requantized again by a second run.
TEST_P(LossyPreset, ResultsHoldTheFloorKeepTheirMetadataAndAreNotFlennedTwice) {
    auto [preset, floor] = GetParam();
    std::vector<std::filesystem::path> photos = fixtures::devPhotos();
    ASSERT_EQ(photos.size(), 21u) << "the developer photos are fetched by Tools/fetch-corpus dev";
    fixtures::TemporaryFolder folder;
    cli::Run first = cli::runFlenn({"--preset", preset, "-o", (folder / "first").string(), photos.front().parent_path().string()});
    ASSERT_EQ(first.status, 0) << first.err;
    auto results = outcomes(first.out);
    ASSERT_EQ(results.size(), photos.size());

    int flenned = 0;
    for (const auto &photo : photos) {
        SCOPED_TRACE(photo.filename().string());
        auto [outcome, printedScore] = results.at(photo.filename().string());
        if (outcome != "Flenned")
            continue;
        flenned++;
        std::filesystem::path output = folder / "first" / photo.parent_path().filename() / photo.filename();
        EXPECT_GE(checkerScore(photo, output), floor);
        EXPECT_GE(printedScore, floor);
        Bytes source = fixtures::readFile(photo), result = fixtures::readFile(output);
        EXPECT_NO_THROW(fixtures::decode(result));
        std::vector<std::string> expected = metadata(source);
        expected.push_back(std::string("\xFF\xFE\x00\x09", 4) + std::string(JPEGSession::signature));
        std::vector<std::string> kept = metadata(result);
        if (!kept.empty() && kept.front().compare(0, 2, "\xFF\xE0") == 0 &&
            (expected.empty() || expected.front().compare(0, 2, "\xFF\xE0") != 0))
            kept.erase(kept.begin()); // a JFIF header the writer adds to a file that had none
        EXPECT_EQ(kept, expected);
    }
    EXPECT_GE(flenned, 8) << "most developer photos have room for a lossy result";

    cli::Run second = cli::runFlenn({"--preset", preset, "-o", (folder / "second").string(), (folder / "first").string()});
    ASSERT_EQ(second.status, 0) << second.err;
    for (const auto &[name, result] : outcomes(second.out))
        EXPECT_NE(result.first, "Flenned") << name;
}

INSTANTIATE_TEST_SUITE_P(Presets, LossyPreset,
                         testing::Values(std::pair<std::string, double>{"balanced", 87},
                                         std::pair<std::string, double>{"high", 90}),
                         [](const auto &info) { return info.param.first; });

} // namespace
} // namespace flenn
