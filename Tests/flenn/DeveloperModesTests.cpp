#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "DeveloperModes.h"
#include "Fixtures.h"
#include "JPEGSession.h"

namespace flenn {
namespace {

using nlohmann::json;

// The records a mode printed, one JSON object per line, each checked to be written with sorted
// keys and no white space.
std::vector<json> records(const std::string &output) {
    std::vector<json> parsed;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        json record = json::parse(line);
        EXPECT_EQ(record.dump(), line);
        parsed.push_back(record);
    }
    return parsed;
}

template <typename Run> std::vector<json> printed(Run run) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(run(), 0);
    return records(testing::internal::GetCapturedStdout());
}

std::set<std::string> keys(const json &record) {
    std::set<std::string> names;
    for (const auto &item : record.items())
        names.insert(item.key());
    return names;
}

class DeveloperModes : public testing::Test {
  protected:
    fixtures::TemporaryFolder folder;

    std::string photo(const std::string &name, const Bytes &bytes = fixtures::jpeg()) {
        fixtures::writeFile(folder / name, bytes);
        return (folder / name).string();
    }

    std::string scaleTable(const json &table) {
        fixtures::writeFile(folder / "scales.json", Bytes::copying(table.dump()));
        return (folder / "scales.json").string();
    }
};

TEST_F(DeveloperModes, FeaturesWithoutPhotosPrintNothing) {
    EXPECT_TRUE(printed([] { return runFeatures({}, 2); }).empty());
}

TEST_F(DeveloperModes, FeaturesOfEachPhoto) {
    std::string jpeg = photo("a.jpg"), text = photo("notes.jpg", Bytes::copying("not a photo"));
    std::vector<json> out = printed([&] { return runFeatures({jpeg, text}, 2); });
    ASSERT_EQ(out.size(), 2u);
    const json &good = out[0]["file"] == "a.jpg" ? out[0] : out[1];
    const json &bad = out[0]["file"] == "a.jpg" ? out[1] : out[0];
    EXPECT_EQ(keys(bad), (std::set<std::string>{"error", "file"}));
    EXPECT_EQ(keys(good), (std::set<std::string>{"already_optimized", "estimated_bits", "features",
                                                 "file", "grid", "luma_pixels", "marker_bytes",
                                                 "matched_bits", "matched_grid", "matched_parts",
                                                 "measure_ms", "primary_bytes", "simple"}))
        << "no prediction without a model";
    EXPECT_EQ(good["features"].size(), 166u);
    EXPECT_TRUE(good["grid"][0].is_number_integer());
    EXPECT_TRUE(good["primary_bytes"].is_number_integer());
    EXPECT_EQ(good["simple"], true);
    EXPECT_EQ(good["matched_parts"].size(), 16u);
    EXPECT_EQ(good["matched_parts"][0].size(), 5u);
}

TEST_F(DeveloperModes, FeaturesTimedRepeatedly) {
    setenv("FLENN_TIME_MEASURE", "", 1);
    std::string jpeg = photo("a.jpg");
    std::vector<json> out = printed([&] { return runFeatures({jpeg}, 1); });
    unsetenv("FLENN_TIME_MEASURE");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_GE(out[0]["measure_ms"].get<double>(), 0);
}

struct ScaleCase {
    const char *name;
    json entry;
    std::vector<std::string> options;
    std::optional<double> luma, chroma;
    const char *error;
};

class MatchedScales : public DeveloperModes, public testing::WithParamInterface<ScaleCase> {};

TEST_P(MatchedScales, ComeFromTheTableOrTheOptions) {
    const ScaleCase &c = GetParam();
    std::string jpeg = photo("p.jpg");
    json table = json::object();
    if (!c.entry.is_null())
        table["p.jpg"] = c.entry;
    std::vector<std::string> args = {scaleTable(table)};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(jpeg);
    std::vector<json> out = printed([&] { return runMatched(args, 2); });
    ASSERT_EQ(out.size(), 1u);
    const json &record = out[0];
    EXPECT_EQ(record["file"], "p.jpg");
    if (c.error) {
        EXPECT_EQ(record["error"], c.error);
        EXPECT_FALSE(record.contains("bytes"));
        return;
    }
    EXPECT_FALSE(record.contains("error")) << record.dump();
    EXPECT_DOUBLE_EQ(record["luma"].get<double>(), *c.luma);
    EXPECT_DOUBLE_EQ(record["chroma"].get<double>(), *c.chroma);
    EXPECT_GT(record["bytes"].get<int>(), 0);
    EXPECT_GT(record["estimated_bits"].get<double>(), 0);
    EXPECT_EQ(record["estimate_parts"].size(), 5u);
    for (const char *key : {"write_ms", "markers", "source_bytes"})
        EXPECT_TRUE(record.contains(key)) << key;
    EXPECT_FALSE(record.contains("tables_equal"));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, MatchedScales,
    testing::Values(
        ScaleCase{"numberTimesFactor", 0.5, {"--scale-factor", "2"}, 1.0, 1.0, nullptr},
        ScaleCase{"lumaAndChroma", {{"luma", 0.8}, {"chroma", 1.2}}, {}, 0.8, 1.2, nullptr},
        ScaleCase{"laterOptionWins",
                  0.5,
                  {"--scale-factor", "4", "--scale-factor", "2"},
                  1.0,
                  1.0,
                  nullptr},
        ScaleCase{"fixedScaleIgnoresTheTable", 0.5, {"--fixed-scale", "0.3"}, 0.3, 0.3, nullptr},
        ScaleCase{"fixedScaleWithoutEntry", nullptr, {"--fixed-scale", "0.3"}, 0.3, 0.3, nullptr},
        ScaleCase{"zero", 0, {}, {}, {}, "scale is not a positive, finite number"},
        ScaleCase{
            "negative", {{"luma", -0.2}}, {}, {}, {}, "scale is not a positive, finite number"},
        ScaleCase{"noLuma", {{"chroma", 0.2}}, {}, {}, {}, "no luma scale"},
        ScaleCase{"text", "0.2", {}, {}, {}, "unreadable scale"},
        ScaleCase{"missing", nullptr, {}, {}, {}, "no scale for this photo"}),
    [](const testing::TestParamInfo<ScaleCase> &info) { return std::string(info.param.name); });

TEST_F(DeveloperModes, MatchedLooksUpTheFullPathFirst) {
    std::string jpeg = photo("p.jpg");
    std::vector<json> out = printed([&] {
        return runMatched({scaleTable({{"p.jpg", 0.5}, {jpeg, 0.25}}), jpeg}, 1);
    });
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]["luma"], 0.25);
}

TEST_F(DeveloperModes, MatchedWritesComparesAndCreatesFolders) {
    fixtures::JPEGOptions options;
    options.width = 96;
    options.height = 64;
    std::string jpeg = photo("p.jpg", fixtures::jpeg(options));
    std::string table = scaleTable({{"p.jpg", 0.3}});
    std::filesystem::path written = folder / "new" / "deeper";
    printed([&] { return runMatched({table, "--write", written.string(), jpeg}, 1); });
    ASSERT_TRUE(std::filesystem::exists(written / "p.jpg"));

    // Against its own earlier output, the same write differs nowhere.
    std::vector<json> out = printed([&] {
        return runMatched({table, "--reference", written.string(), jpeg}, 1);
    });
    ASSERT_EQ(out.size(), 1u);
    const json &record = out[0];
    EXPECT_EQ(record["reference_bytes"], std::filesystem::file_size(written / "p.jpg"));
    EXPECT_EQ(record["bytes"], record["reference_bytes"]);
    EXPECT_EQ(record["tables_equal"], true);
    EXPECT_EQ(record["luma_table_equal"], true);
    EXPECT_EQ(record["luma_ac"], 63 * 12 * 8);
    for (const char *key : {"luma_ac_differ", "chroma_differ", "dc_differ"})
        EXPECT_EQ(record[key], 0) << key;
    EXPECT_EQ(record["luma_ac_nonzero"], record["luma_ac_nonzero_reference"]);
}

TEST_F(DeveloperModes, ReferenceWithOneTableGivesItToLumaAndChroma) {
    std::string jpeg = photo("p.jpg");
    std::filesystem::path references = folder / "references";
    std::filesystem::create_directory(references);
    fixtures::JPEGOptions options;
    options.color = fixtures::Color::grey;
    options.quality = 40;
    Bytes grey = fixtures::jpeg(options);
    fixtures::writeFile(references / "p.jpg", grey);
    std::filesystem::path written = folder / "written";
    std::vector<json> out = printed([&] {
        return runMatched({scaleTable({{"p.jpg", 0.3}}), "--reference", references.string(),
                           "--reference-tables", "--write", written.string(), jpeg},
                          1);
    });
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]["luma_table_equal"], true);
    EXPECT_EQ(out[0]["tables_equal"], false); // three components against one
    EXPECT_FALSE(out[0].contains("luma_ac")) << "no comparison across different geometry";
    JPEGSession result(fixtures::readFile(written / "p.jpg"));
    JPEGSession reference(grey);
    EXPECT_EQ(result.info().quantTables[0], reference.info().quantTables[0]);
    EXPECT_EQ(result.info().quantTables[1], reference.info().quantTables[0]);
}

struct UsageCase {
    const char *name;
    std::vector<std::string> args; // names ending in .json are files of the test's folder
};

class MatchedUsage : public DeveloperModes, public testing::WithParamInterface<UsageCase> {};

TEST_P(MatchedUsage, EndsWithTheUsageText) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::vector<std::string> args = GetParam().args;
    fixtures::writeFile(folder / "table.json", Bytes::copying("{}"));
    fixtures::writeFile(folder / "list.json", Bytes::copying("[1]"));
    fixtures::writeFile(folder / "broken.json", Bytes::copying("{"));
    for (std::string &arg : args)
        if (arg.ends_with(".json"))
            arg = (folder / arg).string();
    EXPECT_EXIT(runMatched(args, 1), testing::ExitedWithCode(2), "Usage: flenn");
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, MatchedUsage,
    testing::Values(UsageCase{"noTable", {}}, UsageCase{"unreadableTable", {"missing.json"}},
                    UsageCase{"notJSON", {"broken.json"}}, UsageCase{"notAnObject", {"list.json"}},
                    UsageCase{"referenceWithoutFolder", {"table.json", "--reference"}},
                    UsageCase{"writeWithoutFolder", {"table.json", "--write"}},
                    UsageCase{"cutWithoutNumber", {"table.json", "--cut"}},
                    UsageCase{"cutNotANumber", {"table.json", "--cut", "deep"}},
                    UsageCase{"factorWithText", {"table.json", "--scale-factor", "2x"}},
                    UsageCase{"emptyFixedScale", {"table.json", "--fixed-scale", ""}}),
    [](const testing::TestParamInfo<UsageCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace flenn
