#include "Batch.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace flenn {
namespace {

struct UniqueNamesCase {
    const char *title;
    std::vector<std::string> reserved;
    std::vector<std::pair<std::string, bool>> names; // name, is a folder
    std::vector<std::string> expected;
};

void PrintTo(const UniqueNamesCase &c, std::ostream *out) {
    *out << c.title;
}

class UniqueNames : public testing::TestWithParam<UniqueNamesCase> {};

TEST_P(UniqueNames, NumberEveryCollisionIgnoringCaseAndComposition) {
    const UniqueNamesCase &c = GetParam();
    std::unordered_set<std::string> taken;
    for (const std::string &name : c.reserved)
        taken.insert(Text::folded(name));
    std::vector<std::string> given;
    for (const auto &[name, isFolder] : c.names)
        given.push_back(Batch::unused(name, isFolder, taken));
    EXPECT_EQ(given, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Batch, UniqueNames,
    testing::Values(
        UniqueNamesCase{
            "FolderTwice", {}, {{"Holiday", true}, {"Holiday", true}}, {"Holiday", "Holiday 2"}},
        UniqueNamesCase{"FileThrice",
                        {},
                        {{"a.jpg", false}, {"a.jpg", false}, {"a.jpg", false}},
                        {"a.jpg", "a 2.jpg", "a 3.jpg"}},
        UniqueNamesCase{"CaseOnly", {}, {{"a.jpg", false}, {"A.JPG", false}}, {"a.jpg", "A 2.JPG"}},
        UniqueNamesCase{"Reserved", {"Holiday"}, {{"holiday", true}}, {"holiday 2"}},
        UniqueNamesCase{"DottedFolder",
                        {},
                        {{"Trip.2020", true}, {"Trip.2020", true}},
                        {"Trip.2020", "Trip.2020 2"}},
        UniqueNamesCase{"DottedFile",
                        {},
                        {{"Trip.2020.jpg", false}, {"Trip.2020.jpg", false}},
                        {"Trip.2020.jpg", "Trip.2020 2.jpg"}},
        UniqueNamesCase{"ComposedThenDecomposed",
                        {},
                        {{"Caf\u00e9.jpg", false}, {"CAFE\u0301.JPG", false}},
                        {"Caf\u00e9.jpg", "CAFE\u0301 2.JPG"}},
        UniqueNamesCase{"NumberedVariantAlreadyTaken",
                        {},
                        {{"a 2.jpg", false}, {"a.jpg", false}, {"a.jpg", false}},
                        {"a 2.jpg", "a.jpg", "a 3.jpg"}},
        UniqueNamesCase{"RelativePath",
                        {},
                        {{"Holiday/day one/IMG.jpg", false}, {"Holiday/day one/IMG.jpg", false}},
                        {"Holiday/day one/IMG.jpg", "Holiday/day one/IMG 2.jpg"}},
        UniqueNamesCase{"DotOnlyInFolderPart",
                        {},
                        {{"Trip.2020/IMG", false}, {"Trip.2020/IMG", false}},
                        {"Trip.2020/IMG", "Trip.2020/IMG 2"}},
        UniqueNamesCase{
            "NoRealExtension",
            {},
            {{".profile", false}, {".profile", false}, {"draft.", false}, {"draft.", false}},
            {".profile", ".profile 2", "draft.", "draft. 2"}}),
    [](const testing::TestParamInfo<UniqueNamesCase> &info) { return info.param.title; });

TEST(Batch, IsJPEGByExtensionInAnyCase) {
    const std::pair<const char *, bool> cases[] = {
        {"/p/PHOTO.JPG", true},  {"/p/a.Jpeg", true},          {"/p/b.jpg", true},
        {"/p/c.jpe", false},     {"/p/d.jfif", false},         {"/p/photo", false},
        {"/p/x.jpg.txt", false}, {"/p/Trip.jpg/photo", false}, {"/p/.jpg", false},
    };
    for (const auto &[path, expected] : cases)
        EXPECT_EQ(Batch::isJPEG(path), expected) << path;
}

TEST(Batch, SummaryCountsTheOtherRefusals) {
    const Batch::Refusal first{"/p/x.jpg", "x.jpg is no longer available."};
    const Batch::Refusal other{"/p/Catalog.lrlibrary",
                               "Catalog is a library or app, so Flenned left it alone."};
    const std::pair<std::vector<Batch::Refusal>, std::optional<std::string>> cases[] = {
        {{}, std::nullopt},
        {{first}, "x.jpg is no longer available."},
        {{first, other}, "x.jpg is no longer available. 1 other item was skipped too."},
        {{first, other, other}, "x.jpg is no longer available. 2 other items were skipped too."},
    };
    for (const auto &[refusals, expected] : cases)
        EXPECT_EQ(Batch::summary(refusals), expected) << refusals.size() << " refusals";
}

} // namespace
} // namespace flenn
