#include "Batch.h"
#include "CodecError.h"
#include "Fixtures.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace flenn {
namespace {

namespace fs = std::filesystem;

// Plans over real folders. File contents are never read by the planner, so each file holds a
// few bytes whose count tells the files apart in the planned sizes.
class BatchPlan : public testing::Test {
  protected:
    fs::path file(const std::string &relative, std::size_t bytes = 3) {
        const fs::path url = root / relative;
        fs::create_directories(url.parent_path());
        std::ofstream(url, std::ios::binary) << std::string(bytes, 'x');
        return url;
    }
    fs::path folder(const std::string &relative) {
        fs::create_directories(root / relative);
        return root / relative;
    }
    fs::path link(const std::string &relative, const std::string &target) {
        fs::create_directories((root / relative).parent_path());
        fs::create_symlink(root / target, root / relative);
        return root / relative;
    }
    std::vector<fs::path> at(const std::vector<std::string> &relatives) const {
        std::vector<fs::path> urls;
        for (const std::string &relative : relatives)
            urls.push_back(root / relative);
        return urls;
    }
    static std::vector<std::string> names(const Batch::Plan &plan) {
        std::vector<std::string> result;
        for (const Batch::Photo &photo : plan.photos)
            result.push_back(photo.name);
        return result;
    }

    fixtures::TemporaryFolder temporary;
    const fs::path root = fs::canonical(temporary.path());
    const fs::path exportFolder = root / "Export"; // never created: planning does not need it
};

TEST_F(BatchPlan, ExportMirrorsInputFoldersInFileBrowserOrder) {
    file("Holiday/IMG_10.jpg", 10);
    file("Holiday/IMG_2.jpg", 2);
    file("Holiday/img_1.jpg", 1);
    file("Holiday/day one/IMG_0001.jpg", 4);
    file("Holiday/notes.txt");
    file("b.jpg", 5);

    const Batch::Plan plan = Batch::plan(at({"Holiday", "b.jpg"}), exportFolder);

    const auto photo = [&](const std::string &source, const std::string &name, std::int64_t bytes) {
        return Batch::Photo{{root / source, exportFolder / name}, name, bytes};
    };
    EXPECT_EQ(plan.photos,
              (std::vector<Batch::Photo>{
                  photo("Holiday/day one/IMG_0001.jpg", "Holiday/day one/IMG_0001.jpg", 4),
                  photo("Holiday/img_1.jpg", "Holiday/img_1.jpg", 1),
                  photo("Holiday/IMG_2.jpg", "Holiday/IMG_2.jpg", 2),
                  photo("Holiday/IMG_10.jpg", "Holiday/IMG_10.jpg", 10),
                  photo("b.jpg", "b.jpg", 5),
              }));
    EXPECT_TRUE(plan.refused.empty());
}

TEST_F(BatchPlan, InPlaceNamesParentAndFileAndKeepsTheSource) {
    file("Holiday/IMG_2.jpg", 2);
    file("Holiday/sub/img_1.jpg", 1);
    file("b.jpg", 5);

    const Batch::Plan plan = Batch::planForReplacing(at({"Holiday", "b.jpg"}));

    const std::string top = root.filename().string();
    EXPECT_EQ(
        plan.photos,
        (std::vector<Batch::Photo>{
            {{root / "Holiday/IMG_2.jpg", root / "Holiday/IMG_2.jpg"}, "Holiday/IMG_2.jpg", 2},
            {{root / "Holiday/sub/img_1.jpg", root / "Holiday/sub/img_1.jpg"}, "sub/img_1.jpg", 1},
            {{root / "b.jpg", root / "b.jpg"}, top + "/b.jpg", 5},
        }));
    EXPECT_EQ(Batch::files(at({"Holiday", "b.jpg"})),
              at({"Holiday/IMG_2.jpg", "Holiday/sub/img_1.jpg", "b.jpg"}));
}

// Without a LANG the process runs in the C locale, where ICU's own order is byte order.
class FileBrowserOrder : public BatchPlan, public testing::WithParamInterface<const char *> {
  protected:
    void TearDown() override { icu::Locale::setDefault(saved, status); }
    icu::Locale saved = icu::Locale::getDefault();
    UErrorCode status = U_ZERO_ERROR;
};

TEST_P(FileBrowserOrder, NumbersByValueAndCaseIgnoredInEveryLocale) {
    file("Shots/IMG_10.jpg");
    file("Shots/IMG_2.jpg");
    file("Shots/img_1.jpg");
    icu::Locale::setDefault(icu::Locale(GetParam()), status);
    ASSERT_TRUE(U_SUCCESS(status));
    // Collators are made once per thread, so a new thread sees the locale set here.
    std::vector<fs::path> found;
    std::thread([&] { found = Batch::files({root / "Shots"}); }).join();
    EXPECT_EQ(found, at({"Shots/img_1.jpg", "Shots/IMG_2.jpg", "Shots/IMG_10.jpg"}));
}

INSTANTIATE_TEST_SUITE_P(Batch, FileBrowserOrder,
                         testing::Values("en_US_POSIX", "en_US", "de_DE", "sv_SE", "ja_JP"));

struct DuplicateCase {
    const char *title;
    std::vector<std::string> inputs;
    std::vector<std::string> exportNames;
};

void PrintTo(const DuplicateCase &c, std::ostream *out) {
    *out << c.title;
}

class Duplicates : public BatchPlan, public testing::WithParamInterface<DuplicateCase> {};

TEST_P(Duplicates, APhotoIsPlannedOnceAndRepeatsRefuseNothing) {
    file("Album/a.jpg");
    file("Album/b.jpg");
    link("alias.jpg", "Album/a.jpg");
    const std::vector<fs::path> inputs = at(GetParam().inputs);

    const Batch::Plan exported = Batch::plan(inputs, exportFolder);
    EXPECT_EQ(names(exported), GetParam().exportNames);
    EXPECT_TRUE(exported.refused.empty());

    const Batch::Plan inPlace = Batch::planForReplacing(inputs);
    EXPECT_EQ(inPlace.photos.size(), GetParam().exportNames.size());
    EXPECT_TRUE(inPlace.refused.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Batch, Duplicates,
    testing::Values(
        DuplicateCase{"FileTwice", {"Album/a.jpg", "Album/a.jpg"}, {"a.jpg"}},
        DuplicateCase{"FileThenFolder", {"Album/a.jpg", "Album"}, {"a.jpg", "Album/b.jpg"}},
        DuplicateCase{"FolderThenFile", {"Album", "Album/a.jpg"}, {"Album/a.jpg", "Album/b.jpg"}},
        DuplicateCase{"FolderTwice", {"Album", "Album/"}, {"Album/a.jpg", "Album/b.jpg"}},
        DuplicateCase{"OtherSpelling", {"Album/./a.jpg", "Album/../Album/a.jpg"}, {"a.jpg"}},
        DuplicateCase{"ThroughALink", {"alias.jpg", "Album/a.jpg"}, {"a.jpg"}}),
    [](const testing::TestParamInfo<DuplicateCase> &info) { return info.param.title; });

TEST_F(BatchPlan, SameNamesFromDifferentPlacesAreNumbered) {
    file("A/Holiday/x.jpg");
    file("B/Holiday/x.jpg");
    file("A/a.jpg");
    file("B/a.jpg");
    file("C/A.JPG");

    const Batch::Plan plan =
        Batch::plan(at({"A/Holiday", "B/Holiday", "A/a.jpg", "B/a.jpg", "C/A.JPG"}), exportFolder);

    EXPECT_EQ(names(plan), (std::vector<std::string>{"Holiday/x.jpg", "Holiday 2/x.jpg", "a.jpg",
                                                     "a 2.jpg", "A 3.JPG"}));
    EXPECT_EQ(plan.photos[1].job,
              (Job{root / "B/Holiday/x.jpg", exportFolder / "Holiday 2/x.jpg"}));
}

TEST_F(BatchPlan, ExcludedSourcesAndReservedNamesComeFromTheSameBatch) {
    file("holiday/a.jpg");
    file("holiday/b.jpg");

    const Batch::Plan plan = Batch::plan(at({"holiday", "holiday/a.jpg"}), exportFolder,
                                         {root / "holiday/a.jpg"}, {"Holiday"});

    EXPECT_EQ(names(plan), std::vector<std::string>{"holiday 2/b.jpg"});
    EXPECT_TRUE(plan.refused.empty());
}

struct RefusalCase {
    const char *title;
    std::string input;
    std::optional<std::string> message; // none: accepted
    std::vector<std::string> inPlaceNames;
};

void PrintTo(const RefusalCase &c, std::ostream *out) {
    *out << c.title;
}

class Refusals : public BatchPlan, public testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusals, LibrariesAndAppsAreLeftAlone) {
    file("Photos Library.photoslibrary/originals/x.jpg");
    file("Outer.photoslibrary/Inner.lrlibrary/y.jpg");
    file("Catalog.lrlibrary/z.jpg");
    file("Tool.APP/p.jpg");
    file("Shots/Catalog.lrlibrary/w.jpg");
    file("Shots/Viewer.app/Contents/icon.jpg");
    file("Shots/keep.jpg");
    file("Snapp/a.jpg");
    const RefusalCase &c = GetParam();
    const fs::path input = root / c.input;
    std::vector<Batch::Refusal> expected;
    if (c.message)
        expected.push_back({input, *c.message});

    for (const Batch::Plan &plan :
         {Batch::planForReplacing({input}), Batch::plan({input}, exportFolder)}) {
        EXPECT_EQ(plan.refused, expected);
        EXPECT_EQ(names(plan).size(), c.inPlaceNames.size());
    }
    EXPECT_EQ(names(Batch::planForReplacing({input})), c.inPlaceNames);
}

INSTANTIATE_TEST_SUITE_P(
    Batch, Refusals,
    testing::Values(
        RefusalCase{"PhotoInsideALibrary",
                    "Photos Library.photoslibrary/originals/x.jpg",
                    "x.jpg is inside Photos Library, so Flenned left it alone.",
                    {}},
        RefusalCase{"NestedLibrariesNameTheOuterOne",
                    "Outer.photoslibrary/Inner.lrlibrary/y.jpg",
                    "y.jpg is inside Outer, so Flenned left it alone.",
                    {}},
        RefusalCase{"LibraryInsideALibrary",
                    "Outer.photoslibrary/Inner.lrlibrary",
                    "Inner.lrlibrary is inside Outer, so Flenned left it alone.",
                    {}},
        RefusalCase{"LibraryNamedDirectly",
                    "Catalog.lrlibrary",
                    "Catalog is a library or app, so Flenned left it alone.",
                    {}},
        RefusalCase{"LibraryWithTrailingSlash",
                    "Catalog.lrlibrary/",
                    "Catalog is a library or app, so Flenned left it alone.",
                    {}},
        RefusalCase{"AppInUpperCase",
                    "Tool.APP",
                    "Tool is a library or app, so Flenned left it alone.",
                    {}},
        RefusalCase{
            "LibrariesMetInAWalkAreSkippedSilently", "Shots", std::nullopt, {"Shots/keep.jpg"}},
        RefusalCase{"OnlyTheWholeExtensionCounts", "Snapp", std::nullopt, {"Snapp/a.jpg"}}),
    [](const testing::TestParamInfo<RefusalCase> &info) { return info.param.title; });

TEST_F(BatchPlan, EnclosingPackageIsTheOutermost) {
    file("Outer.photoslibrary/Inner.lrlibrary/y.jpg");
    file("Notes.app"); // a file, not a folder
    folder("Plain");

    EXPECT_EQ(Batch::package(root / "Outer.photoslibrary/Inner.lrlibrary/y.jpg"),
              root / "Outer.photoslibrary");
    EXPECT_EQ(Batch::package(root / "Outer.photoslibrary"), root / "Outer.photoslibrary");
    EXPECT_EQ(Batch::package(root / "Plain"), std::nullopt);
    EXPECT_FALSE(Batch::isPackage(root / "Notes.app"));
    EXPECT_FALSE(Batch::isPackage(root / "Missing.app"));
}

TEST_F(BatchPlan, WalkSkipsHiddenEntriesAndLinks) {
    file("Shots/keep.jpg");
    file("Shots/.hidden.jpg");
    file("Shots/.cache/cached.jpg");
    file("Elsewhere/e.jpg");
    link("Shots/linked.jpg", "Elsewhere/e.jpg");
    link("Shots/Linked folder", "Elsewhere");
    link("Shots/dangling.jpg", "Missing/m.jpg");

    EXPECT_EQ(Batch::files(at({"Shots"})), at({"Shots/keep.jpg"}));
    // Named directly, a hidden photo is still the user's choice.
    EXPECT_EQ(Batch::files(at({"Shots/.hidden.jpg"})), at({"Shots/.hidden.jpg"}));
}

TEST_F(BatchPlan, AFolderNamedThroughALinkIsWalkedWhereItLives) {
    file("Shots/keep.jpg");
    link("Shortcut", "Shots");

    const Batch::Plan plan = Batch::plan(at({"Shortcut"}), exportFolder);

    EXPECT_EQ(
        plan.photos,
        (std::vector<Batch::Photo>{
            {{root / "Shots/keep.jpg", exportFolder / "Shots/keep.jpg"}, "Shots/keep.jpg", 3}}));
}

TEST_F(BatchPlan, ExportFolderInsideAnInputIsNotReadBack) {
    file("Holiday/a.jpg");
    file("Holiday/Export/old.jpg");
    file("Holiday/Exported/new.jpg");

    for (const std::string exportSpelling :
         {"Holiday/Export", "Holiday/Export/", "Holiday/./Export/."}) {
        const Batch::Plan plan = Batch::plan(at({"Holiday"}), root / exportSpelling);
        EXPECT_EQ(names(plan),
                  (std::vector<std::string>{"Holiday/a.jpg", "Holiday/Exported/new.jpg"}))
            << exportSpelling;
        EXPECT_TRUE(plan.refused.empty());
    }
}

TEST_F(BatchPlan, ExportFolderAsAnInputIsRefused) {
    file("Holiday/a.jpg");
    link("Holiday link", "Holiday");

    for (const auto &[input, exportFolder] : {std::pair{"Holiday", "Holiday"},
                                              {"Holiday/../Holiday/", "Holiday"},
                                              {"Holiday", "Holiday link"}}) {
        const Batch::Plan plan = Batch::plan(at({input}), root / exportFolder);
        EXPECT_EQ(plan.refused, (std::vector<Batch::Refusal>{
                                    {root / input, "Choose an export folder outside Holiday."}}))
            << input << " into " << exportFolder;
        EXPECT_TRUE(plan.photos.empty());
    }
}

TEST_F(BatchPlan, ExportFolderProblemComparesSpellingsWithoutResolvingLinks) {
    folder("Holiday/sub");
    link("Holiday link", "Holiday");
    const std::string sentence = "Choose an export folder outside Holiday.";

    EXPECT_EQ(Batch::exportFolderProblem(root / "Holiday", at({"a.jpg", "Holiday/"})), sentence);
    EXPECT_EQ(Batch::exportFolderProblem(root / "Holiday/.", at({"x/../Holiday"})), sentence);
    EXPECT_EQ(Batch::exportFolderProblem(root / "Holiday", at({"Holiday link"})), std::nullopt);
    EXPECT_EQ(Batch::exportFolderProblem(root / "Holiday", at({"Holiday/sub"})), std::nullopt);
}

TEST_F(BatchPlan, MissingInputIsRefusedOnlyForExport) {
    link("dangling.jpg", "Missing/m.jpg");
    const std::vector<fs::path> inputs = at({"gone/x.jpg", "dangling.jpg"});

    EXPECT_EQ(Batch::plan(inputs, exportFolder).refused,
              (std::vector<Batch::Refusal>{{inputs[0], "x.jpg is no longer available."},
                                           {inputs[1], "dangling.jpg is no longer available."}}));
    const Batch::Plan inPlace = Batch::planForReplacing(inputs);
    EXPECT_TRUE(inPlace.photos.empty());
    EXPECT_TRUE(inPlace.refused.empty());
}

TEST_F(BatchPlan, FoldersWithoutPhotosAndOtherFilesAddNothing) {
    folder("Empty");
    file("Texts/notes.txt");
    file("readme.txt");
    const std::vector<fs::path> inputs = at({"Empty", "Texts", "readme.txt"});

    for (const Batch::Plan &plan :
         {Batch::planForReplacing(inputs), Batch::plan(inputs, exportFolder)}) {
        EXPECT_TRUE(plan.photos.empty());
        EXPECT_TRUE(plan.refused.empty());
    }
    // An empty folder takes no name, so a later folder of that name keeps it.
    file("Other/Empty/a.jpg");
    EXPECT_EQ(names(Batch::plan(at({"Empty", "Other/Empty"}), exportFolder)),
              std::vector<std::string>{"Empty/a.jpg"});
}

TEST_F(BatchPlan, PhotosAndRefusalsKeepInputOrder) {
    file("Shots/keep.jpg");
    file("Catalog.lrlibrary/z.jpg");
    file("b.jpg");
    const std::vector<fs::path> inputs = at({"gone.jpg", "b.jpg", "Catalog.lrlibrary", "Shots"});

    const Batch::Plan plan = Batch::plan(inputs, exportFolder);

    EXPECT_EQ(names(plan), (std::vector<std::string>{"b.jpg", "Shots/keep.jpg"}));
    EXPECT_EQ(plan.refused,
              (std::vector<Batch::Refusal>{
                  {inputs[0], "gone.jpg is no longer available."},
                  {inputs[2], "Catalog is a library or app, so Flenned left it alone."}}));
}

TEST_F(BatchPlan, JobsThrowTheFirstRefusal) {
    file("Catalog.lrlibrary/z.jpg");
    file("Holiday/a.jpg");

    try {
        Batch::jobs(at({"Holiday", "gone.jpg", "Catalog.lrlibrary"}), exportFolder);
        FAIL() << "no error";
    } catch (const CodecError &error) {
        EXPECT_EQ(error.message(), "gone.jpg is no longer available.");
    }
    EXPECT_EQ(Batch::jobs(at({"Holiday"}), exportFolder),
              (std::vector<Job>{{root / "Holiday/a.jpg", exportFolder / "Holiday/a.jpg"}}));
}

TEST_F(BatchPlan, AStoppedPlanStopsBeforeTheNextInput) {
    file("Shots/keep.jpg");
    file("b.jpg");
    std::stop_source stop;
    stop.request_stop();

    for (const Batch::Plan &plan :
         {Batch::planForReplacing(at({"b.jpg", "Shots"}), stop.get_token()),
          Batch::plan(at({"gone.jpg", "b.jpg", "Shots"}), exportFolder, {}, {},
                      stop.get_token())}) {
        EXPECT_TRUE(plan.photos.empty());
        EXPECT_TRUE(plan.refused.empty());
    }
}

} // namespace
} // namespace flenn
