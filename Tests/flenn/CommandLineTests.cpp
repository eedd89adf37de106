#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "Fixtures.h"
#include "RunFlenn.h"
#include "Workers.h"

namespace flenn {
namespace {

using cli::runFlenn;

const std::string usage =
    "Usage: flenn [--preset compact|balanced|high|lossless] [--jobs N] -o EXPORT_FOLDER PHOTO_OR_FOLDER...\n"
    "       flenn [--preset ...] [--jobs N] --in-place PHOTO_OR_FOLDER...\n";

struct UsageCase {
    const char *name;
    std::vector<std::string> arguments;
};

void PrintTo(const UsageCase &c, std::ostream *out) { *out << c.name; }

class UsageErrors : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrors, PrintTheUsageAndExitWithStatus2) {
    fixtures::TemporaryFolder folder;
    fixtures::writeFile(folder / "a.jpg", fixtures::jpeg());
    std::vector<std::string> arguments;
    for (std::string argument : GetParam().arguments) {
        if (auto at = argument.find("PHOTO"); at != std::string::npos)
            argument.replace(at, 5, (folder / "a.jpg").string());
        if (auto at = argument.find("OUT"); at != std::string::npos)
            argument.replace(at, 3, (folder / "out").string());
        arguments.push_back(argument);
    }
    cli::Run run = runFlenn(arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, usage);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(std::filesystem::exists(folder / "out")) << "nothing is touched";
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, UsageErrors,
    testing::Values(UsageCase{"NoArguments", {}}, UsageCase{"NeitherExportNorInPlace", {"PHOTO"}},
                    UsageCase{"BothExportAndInPlace", {"-o", "OUT", "--in-place", "PHOTO"}},
                    UsageCase{"NoInputs", {"-o", "OUT"}}, UsageCase{"OutputLast", {"PHOTO", "-o"}},
                    UsageCase{"ZeroJobs", {"--jobs", "0", "-o", "OUT", "PHOTO"}},
                    UsageCase{"JobsNotANumber", {"--jobs", "two", "-o", "OUT", "PHOTO"}},
                    UsageCase{"JobsWithSuffix", {"--jobs", "3x", "-o", "OUT", "PHOTO"}},
                    UsageCase{"UnknownPreset", {"--preset", "High", "-o", "OUT", "PHOTO"}},
                    UsageCase{"FloorNotANumber", {"--floor", "high", "-o", "OUT", "PHOTO"}},
                    UsageCase{"Help", {"--help", "-o", "OUT", "PHOTO"}}, UsageCase{"ShortHelp", {"-h"}}),
    [](const auto &info) { return std::string(info.param.name); });

// Byte counts as printed: thousands separated by commas.
std::string grouped(std::uintmax_t value) {
    std::string digits = std::to_string(value);
    for (int at = int(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(std::size_t(at), ",");
    return digits;
}

TEST(CommandLine, PrintsOneLinePerPhotoWithSizesScoreAndOutcome) {
    fixtures::TemporaryFolder folder;
    std::filesystem::create_directory(folder / "in");
    Bytes camera = fixtures::jpeg({.width = 320, .height = 240, .quality = 92});
    fixtures::writeFile(folder / "in/camera.jpg", camera);
    fixtures::writeFile(folder / "in/cmyk.jpg", fixtures::jpeg({.color = fixtures::Color::cmyk}));
    cli::Run run = runFlenn({"--preset", "lossless", "--jobs", "1", "-o", (folder / "out").string(),
                                 (folder / "in").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    auto repacked = std::filesystem::file_size(folder / "out/in/camera.jpg");
    auto cmykSize = std::filesystem::file_size(folder / "in/cmyk.jpg");
    std::string expected =
        (folder / "out/in/camera.jpg").string() + "   " + grouped(camera.size()) + " \u2192 " +
        grouped(repacked) + "   100.00   Repacked\n" + (folder / "out/in/cmyk.jpg").string() + "   " +
        grouped(cmykSize) + " \u2192 " + grouped(cmykSize) +
        "   100.00   Copied   (Left unchanged. This JPEG uses CMYK or another color format Flenned does "
        "not rewrite.)\n";
    EXPECT_EQ(run.out, expected);
}

TEST(CommandLine, OneDamagedPhotoFailsAloneWithItsSourcePath) {
    fixtures::TemporaryFolder folder;
    Bytes photo = fixtures::jpeg({.width = 200, .height = 100});
    fixtures::writeFile(folder / "good.jpg", photo);
    fixtures::writeFile(folder / "broken.jpg", photo.prefix(photo.size() / 2));
    fixtures::writeFile(folder / "other.jpg", fixtures::jpeg({.width = 100, .height = 100}));
    cli::Run run = runFlenn({"--preset", "lossless", "-o", (folder / "out").string(),
                                 (folder / "good.jpg").string(), (folder / "broken.jpg").string(),
                                 (folder / "other.jpg").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, (folder / "broken.jpg").string() +
                           ": This JPEG is damaged. Export it again from your editor or camera.\n");
    EXPECT_NE(run.out.find("good.jpg"), std::string::npos);
    EXPECT_NE(run.out.find("other.jpg"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(folder / "out/other.jpg"));
    EXPECT_FALSE(std::filesystem::exists(folder / "out/broken.jpg"));
}

TEST(CommandLine, NeverReplacesAnExistingExport) {
    fixtures::TemporaryFolder folder;
    fixtures::writeFile(folder / "a.jpg", fixtures::jpeg());
    std::filesystem::create_directory(folder / "out");
    fixtures::writeFile(folder / "out/a.jpg", Bytes::copying("mine"));
    cli::Run run = runFlenn({"-o", (folder / "out").string(), (folder / "a.jpg").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, (folder / "a.jpg").string() +
                           ": A file with this name is already in the export folder, so nothing was replaced.\n");
    EXPECT_EQ(fixtures::readFile(folder / "out/a.jpg"), Bytes::copying("mine"));
}

struct RefusedCase {
    const char *name;
    std::vector<std::string> arguments; // IN: the input folder, OUT: the export folder
    std::string error;                  // IN and OUT stand for their last path components
};

void PrintTo(const RefusedCase &c, std::ostream *out) { *out << c.name; }

class RefusedRuns : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedRuns, StopBeforeAnyPhotoWithStatus1) {
    fixtures::TemporaryFolder folder;
    std::filesystem::create_directories(folder / "Holiday/Photos Library.photoslibrary");
    fixtures::writeFile(folder / "Holiday/a.jpg", fixtures::jpeg());
    fixtures::writeFile(folder / "Holiday/Photos Library.photoslibrary/x.jpg", fixtures::jpeg());
    fixtures::writeFile(folder / "notes.txt", Bytes::copying("text"));
    std::filesystem::create_directory(folder / "empty");
    std::vector<std::string> arguments;
    for (std::string argument : GetParam().arguments) {
        for (auto [token, path] : {std::pair{"IN", "Holiday"}, {"OUT", "out"}, {"TEXT", "notes.txt"},
                                   {"EMPTY", "empty"}, {"LIBRARY", "Holiday/Photos Library.photoslibrary/x.jpg"}})
            if (argument == token)
                argument = (folder / path).string();
        arguments.push_back(argument);
    }
    auto before = std::filesystem::last_write_time(folder / "Holiday/a.jpg");
    cli::Run run = runFlenn(arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, GetParam().error + "\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(std::filesystem::last_write_time(folder / "Holiday/a.jpg"), before);
    EXPECT_FALSE(std::filesystem::exists(folder / "out"));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, RefusedRuns,
    testing::Values(
        RefusedCase{"ExportFolderIsTheInput", {"-o", "IN", "IN"}, "Choose an export folder outside Holiday."},
        RefusedCase{"MisspelledOption", {"-o", "OUT", "--outpt", "IN"}, "--outpt is no longer available."},
        RefusedCase{"OnlyATextFile", {"-o", "OUT", "TEXT"}, "No JPEGs found"},
        RefusedCase{"FolderWithoutJPEGs", {"-o", "OUT", "EMPTY"}, "No JPEGs found"},
        RefusedCase{"InsideALibrary", {"-o", "OUT", "LIBRARY"},
                    "x.jpg is inside Photos Library, so Flenned left it alone."},
        RefusedCase{"InPlaceInsideALibrary", {"--in-place", "LIBRARY"}, "No JPEGs found"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CommandLine, InPlaceReplacesThePhotoAndPrintsItsPath) {
    fixtures::TemporaryFolder folder;
    Bytes camera = fixtures::jpeg({.width = 320, .height = 240, .quality = 92});
    fixtures::writeFile(folder / "p.jpg", camera);
    cli::Run run = runFlenn({"--preset", "lossless", "--in-place", (folder / "p.jpg").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind((folder / "p.jpg").string() + "   ", 0), 0u) << run.out;
    Bytes after = fixtures::readFile(folder / "p.jpg");
    EXPECT_LT(after.size(), camera.size());
    EXPECT_EQ(fixtures::decode(after), fixtures::decode(camera));
}

TEST(Workers, RunEveryIndexOnceWithAtMostTheLimitInFlight) {
    for (auto [count, limit] : {std::pair{10, 3}, {1, 4}, {0, 2}, {5, 1}}) {
        std::vector<std::atomic<int>> runs(static_cast<std::size_t>(count));
        std::atomic<int> inFlight = 0, most = 0;
        std::set<std::thread::id> threads;
        std::mutex threadsLock;
        forEachConcurrently(std::size_t(count), limit, [&](std::size_t i) {
            int now = ++inFlight;
            for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);)
                ;
            {
                std::lock_guard<std::mutex> lock(threadsLock);
                threads.insert(std::this_thread::get_id());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            runs[i]++;
            --inFlight;
        });
        for (auto &r : runs)
            EXPECT_EQ(r, 1);
        EXPECT_LE(most, limit);
        EXPECT_LE(int(threads.size()), std::max(std::min(count, limit), 1));
        if (count >= limit) {
            EXPECT_EQ(most, limit) << "the pool is used";
        }
    }
}

} // namespace
} // namespace flenn
