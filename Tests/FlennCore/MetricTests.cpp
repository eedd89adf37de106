#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CodecError.h"
#include "Fixtures.h"
#include "Metric.h"
#include "Sentences.h"

namespace flenn {
namespace {

namespace fs = std::filesystem;

// Small checker programs written as shell scripts into a temporary folder.
class FakeCheckers {
  public:
    fs::path make(const std::string &name, const std::string &body) const {
        fs::path path = folder_ / name;
        fixtures::writeFile(path, Bytes::copying("#!/bin/sh\n" + body + "\n"));
        fs::permissions(path, fs::perms::owner_all);
        return path;
    }
    // A file in the folder, single-quoted for a script.
    std::string quoted(const std::string &name) const {
        return "'" + (folder_ / name).string() + "'";
    }
    fs::path operator/(const std::string &name) const { return folder_ / name; }

  private:
    fixtures::TemporaryFolder folder_;
};

// The sentence of the CodecError the call throws.
std::string sentenceOf(const std::function<void()> &call) {
    try {
        call();
    } catch (const CodecError &error) {
        return error.message();
    }
    return "(no CodecError)";
}

std::vector<std::string> linesOf(const fs::path &path) {
    auto bytes = fixtures::readFile(path);
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

bool processIsGone(pid_t pid) {
    return ::kill(pid, 0) == -1 && errno == ESRCH;
}

const Bytes &photo() {
    static const Bytes bytes = fixtures::jpeg();
    return bytes;
}

const std::string unreadable(Sentences::checkerUnreadableScore);

// What a checker prints or how it ends, and what `score` makes of it.
struct OutputCase {
    const char *name;
    std::string script;
    std::optional<double> value; // or else
    std::string sentence;
};

void PrintTo(const OutputCase &c, std::ostream *out) {
    *out << c.name;
}

class CheckerOutput : public testing::TestWithParam<OutputCase> {};

TEST_P(CheckerOutput, BecomesAScoreOrOneSentence) {
    const OutputCase &c = GetParam();
    FakeCheckers checkers;
    auto checker = checkers.make("checker", c.script);
    if (c.value) {
        EXPECT_EQ(Metric::score(photo(), photo(), checker, 10), *c.value);
    } else {
        EXPECT_EQ(sentenceOf([&] { Metric::score(photo(), photo(), checker, 10); }), c.sentence);
    }
}

std::string failedWith(const std::string &line) {
    return std::string(Sentences::checkerFailedPrefix) + line;
}

std::string repeated(const std::string &text, int count) {
    std::string result;
    for (int i = 0; i < count; ++i)
        result += text;
    return result;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckerOutput,
    testing::Values(
        OutputCase{"SpacesAroundTheNumber", "printf ' \\t73.25  \\n'", 73.25, ""},
        OutputCase{"EmptyFirstLine", "printf '\\n80\\n'", 80, ""},
        OutputCase{"Identical", "echo 100.00000000", 100, ""},
        OutputCase{"AboveOneHundred", "echo 100.5", std::nullopt, unreadable},
        OutputCase{"Negative", "echo -12.0", -12.0, ""},
        OutputCase{"NotANumber", "echo abc", std::nullopt, unreadable},
        OutputCase{"TextAfterTheNumber", "echo '73.25 points'", std::nullopt, unreadable},
        OutputCase{"Infinite", "echo inf", std::nullopt, unreadable},
        OutputCase{"NothingPrinted", "exit 0", std::nullopt, unreadable},
        // Output beyond what is kept is still read, so the checker never blocks on its pipe.
        OutputCase{"FloodAfterTheScore", "echo 42; head -c 1000000 /dev/zero", 42, ""},
        OutputCase{"FailedSilently", "exit 3", std::nullopt, std::string(Sentences::checkerFailed)},
        OutputCase{"FailedWithOnlyWhiteSpace", "printf ' \\n\\n' >&2; exit 1", std::nullopt,
                   std::string(Sentences::checkerFailed)},
        OutputCase{"FailedDespiteAScore", "echo 90; exit 2", std::nullopt,
                   std::string(Sentences::checkerFailed)},
        OutputCase{"LastNonEmptyLineQuoted",
                   "printf 'first problem\\n\\nlast problem  \\n\\n' >&2; exit 1", std::nullopt,
                   failedWith("last problem")},
        OutputCase{"LongLineCutAt300Characters", "printf 'x%0399d\\n' 0 >&2; exit 1", std::nullopt,
                   failedWith("x" + std::string(299, '0'))},
        OutputCase{"CutCountsCharactersNotBytes",
                   "printf '%s\\n' '" + repeated("\u00e9", 400) + "' >&2; exit 1", std::nullopt,
                   failedWith(repeated("\u00e9", 300))},
        OutputCase{"InvalidUTF8Replaced", "printf 'bad \\377 byte\\n' >&2; exit 1", std::nullopt,
                   failedWith("bad \ufffd byte")},
        // 300 KB of complaint: only the tail is kept, and the message quotes its last line.
        OutputCase{"HugeComplaint",
                   "head -c 300000 /dev/zero | tr '\\0' 'e' >&2; printf '\\nlast %0400d\\n' 0 "
                   ">&2; exit 1",
                   std::nullopt, failedWith("last " + std::string(295, '0'))},
        OutputCase{"KilledBySignal", "kill -KILL $$", std::nullopt,
                   std::string(Sentences::checkerStoppedUnexpectedly)}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(MetricRun, KeepsOnlyTheLastPartOfAHugeComplaint) {
    FakeCheckers checkers;
    std::string complaint = "EARLY\n";
    for (int line = 0; line < 3000; ++line)
        complaint += std::string(99, 'a') + "\n";
    complaint += "the last line\n";
    fixtures::writeFile(checkers / "complaint", Bytes::copying(complaint));
    auto checker = checkers.make("checker", "cat " + checkers.quoted("complaint") + " >&2; exit 1");

    std::string expected = complaint.substr(complaint.size() - 262'144);
    expected.pop_back(); // the final newline is trimmed
    ASSERT_EQ(expected.front(), 'a');
    try {
        Metric::run(checker, "reference.jpg", "candidate.jpg", 10);
        FAIL() << "no rejection";
    } catch (const Metric::Rejection &rejection) {
        EXPECT_EQ(rejection.complaint, expected);
    }
}

TEST(MetricRun, CheckerThatCannotStart) {
    FakeCheckers checkers;
    fixtures::writeFile(checkers / "not-executable", Bytes::copying("#!/bin/sh\necho 90\n"));
    for (const auto &checker : {checkers / "absent", checkers / "not-executable"})
        EXPECT_EQ(sentenceOf([&] { Metric::run(checker, "a.jpg", "b.jpg", 10); }),
                  Sentences::checkerCouldNotStart)
            << checker;
}

// The child sees /dev/null and its own two pipes, nothing the host or a concurrent run has open.
TEST(MetricRun, ChildInheritsOnlyItsOwnStreams) {
    int leaky[2];
    ASSERT_EQ(pipe(leaky), 0); // without close-on-exec, like a careless part of the host
    FakeCheckers checkers;
    auto checker = checkers.make("checker", "ls -l /proc/$$/fd >&2; exit 1");
    std::string listing;
    try {
        Metric::run(checker, "a.jpg", "b.jpg", 10);
    } catch (const Metric::Rejection &rejection) {
        listing = rejection.complaint;
    }
    close(leaky[0]);
    close(leaky[1]);
    EXPECT_NE(listing.find("0 -> /dev/null"), std::string::npos) << listing;
    // The shell may park a copy of a stream on a higher number; distinct pipes are what count.
    std::set<std::string> pipes;
    std::regex pipe(R"(pipe:\[\d+\])");
    for (std::sregex_iterator at(listing.begin(), listing.end(), pipe), end; at != end; ++at)
        pipes.insert(at->str());
    EXPECT_EQ(pipes.size(), 2u) << listing;
}

TEST(MetricRun, ConcurrentRunsKeepTheirOwnResults) {
    FakeCheckers checkers;
    auto checker = checkers.make("checker", "basename \"$1\"; basename \"$2\" >&2");
    constexpr int threads = 4, runs = 6;
    std::vector<std::vector<double>> results(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int r = 0; r < runs; ++r)
                results[t].push_back(Metric::run(checker, checkers / std::to_string(t * 10 + r),
                                                 checkers / "candidate", 10));
        });
    for (auto &worker : workers)
        worker.join();
    for (int t = 0; t < threads; ++t)
        for (int r = 0; r < runs; ++r)
            EXPECT_EQ(results[t].at(r), t * 10 + r);
}

// A checker that never ends: `run` gives up after the time-out, and neither the process nor
// the scratch folder outlives the call.
struct HangCase {
    const char *name;
    const char *prelude;
};

void PrintTo(const HangCase &c, std::ostream *out) {
    *out << c.name;
}

class HangingChecker : public testing::TestWithParam<HangCase> {};

TEST_P(HangingChecker, IsStoppedAfterTheTimeOut) {
    FakeCheckers checkers;
    auto checker = checkers.make("checker", std::string(GetParam().prelude) + "echo $$ > " +
                                                checkers.quoted("pid") + "; echo \"$1\" > " +
                                                checkers.quoted("argument") + "; exec sleep 30");
    EXPECT_EQ(sentenceOf([&] { Metric::score(photo(), photo(), checker, 1); }),
              "The quality check was stopped because it took longer than 1 seconds.");
    auto pid = std::stoi(linesOf(checkers / "pid").at(0));
    EXPECT_TRUE(processIsGone(pid));
    fs::path reference = linesOf(checkers / "argument").at(0);
    EXPECT_EQ(reference.filename(), "reference.jpg");
    EXPECT_FALSE(fs::exists(reference.parent_path()));
}

INSTANTIATE_TEST_SUITE_P(Cases, HangingChecker,
                         testing::Values(HangCase{"EndsOnTerminate", ""},
                                         HangCase{"IgnoresTerminate", "trap '' TERM; "}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(MetricRun, StreamsLeftOpenAfterExitStopUnexpectedly) {
    FakeCheckers checkers;
    // The background sleep keeps standard output open after the checker itself exited.
    auto checker =
        checkers.make("checker", "sleep 30 & echo $! > " + checkers.quoted("pid") + "; echo 50");
    EXPECT_EQ(sentenceOf([&] { Metric::run(checker, "a.jpg", "b.jpg", 10); }),
              Sentences::checkerStoppedUnexpectedly);
    auto holder = std::stoi(linesOf(checkers / "pid").at(0));
    EXPECT_FALSE(processIsGone(holder)); // the run did not wait for the stream's holder
    ::kill(holder, SIGKILL);
}

// The checker logs each call as: reference path, candidate path, the first two bytes of both.
std::string loggingChecker(const FakeCheckers &checkers, const std::string &behaviour) {
    return "printf '%s %s %s\\n' \"$1\" \"$2\" \"$(head -c 2 \"$1\")$(head -c 2 \"$2\")\" >> " +
           checkers.quoted("log") + "\n" + behaviour;
}

struct LoggedCall {
    fs::path reference, candidate;
    std::string magic;
};

std::vector<LoggedCall> loggedCalls(const FakeCheckers &checkers) {
    std::vector<LoggedCall> calls;
    for (const auto &line : linesOf(checkers / "log")) {
        std::istringstream fields(line);
        LoggedCall call;
        std::string reference, candidate;
        fields >> reference >> candidate >> call.magic;
        call.reference = reference;
        call.candidate = candidate;
        calls.push_back(call);
    }
    return calls;
}

TEST(MetricScore, DecodeComplaintIsRetriedOnceOnPixelFiles) {
    FakeCheckers checkers;
    auto checker = checkers.make(
        "checker", loggingChecker(checkers, "case \"$1\" in *.jpg) echo 'Cannot DeCoDe input' >&2; "
                                            "exit 1;; esac\necho 88"));
    EXPECT_EQ(Metric::score(photo(), photo(), checker, 10), 88);

    auto calls = loggedCalls(checkers);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].reference.filename(), "reference.jpg");
    EXPECT_EQ(calls[0].candidate.filename(), "candidate.jpg");
    EXPECT_EQ(calls[1].reference.filename(), "reference.ppm");
    EXPECT_EQ(calls[1].candidate.filename(), "candidate.ppm");
    EXPECT_EQ(calls[1].magic, "P6P6"); // binary PNM pixels, decoded by our engine
    EXPECT_NE(calls[0].reference.parent_path(), calls[1].reference.parent_path());
    for (const auto &call : calls)
        EXPECT_FALSE(fs::exists(call.reference.parent_path())) << call.reference;
}

TEST(MetricScore, RetryHappensOnlyOnceAndOnlyForDecodeComplaints) {
    struct Case {
        const char *complaint;
        std::size_t calls;
    };
    for (const auto &c : {Case{"could not decode input", 2}, Case{"image size mismatch", 1}}) {
        FakeCheckers checkers;
        auto checker =
            checkers.make("checker", loggingChecker(checkers, "echo '" + std::string(c.complaint) +
                                                                  "' >&2; exit 1"));
        EXPECT_EQ(sentenceOf([&] { Metric::score(photo(), photo(), checker, 10); }),
                  failedWith(c.complaint));
        EXPECT_EQ(loggedCalls(checkers).size(), c.calls) << c.complaint;
    }
}

TEST(MetricScore, UndecodableInputForTheRetry) {
    FakeCheckers checkers;
    auto checker =
        checkers.make("checker", loggingChecker(checkers, "echo 'cannot decode' >&2; exit 1"));
    EXPECT_EQ(
        sentenceOf([&] { Metric::score(Bytes::copying("not a JPEG"), photo(), checker, 10); }),
        Sentences::checkerCannotDecode);
    EXPECT_EQ(loggedCalls(checkers).size(), 1u);
}

// Checker lookup: files laid out around a fake program at app/bin/flenn.
enum class Entry { program, plainFile, folder };

struct LookupCase {
    const char *name;
    std::vector<std::pair<std::string, Entry>> entries;
    std::string expected; // relative to the root; empty: none found
};

void PrintTo(const LookupCase &c, std::ostream *out) {
    *out << c.name;
}

class CheckerLookup : public testing::TestWithParam<LookupCase> {};

const std::string checkerName = "flenn-test-checker";

TEST_P(CheckerLookup, TakesTheFirstExecutableFile) {
    const LookupCase &c = GetParam();
    fixtures::TemporaryFolder root;
    fs::create_directories(root / "app/bin");
    fixtures::writeFile(root / "app/bin/flenn", Bytes::copying("program"));
    for (const auto &[relative, entry] : c.entries) {
        fs::path path = root.path() / relative;
        fs::create_directories(path.parent_path());
        if (entry == Entry::folder) {
            fs::create_directory(path);
            continue;
        }
        fixtures::writeFile(path, Bytes::copying("#!/bin/sh\n"));
        fs::permissions(path, entry == Entry::program
                                  ? fs::perms::owner_all
                                  : fs::perms::owner_read | fs::perms::owner_write);
    }
    // Reached through a link elsewhere: the folder of the real program counts.
    fs::create_directories(root / "links");
    fs::create_symlink(root / "app/bin/flenn", root / "links/flenn");

    auto found = [&] { return Metric::helperURL(checkerName, root / "links/flenn"); };
    if (c.expected.empty())
        EXPECT_EQ(sentenceOf(found), Sentences::checkerMissing);
    else
        EXPECT_EQ(found(), fs::canonical(root.path()) / c.expected);
}

const std::string beside = "app/bin/" + checkerName, libexec = "app/libexec/flenned/" + checkerName,
                  helpers = "app/Helpers/" + checkerName, link = "links/" + checkerName;

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckerLookup,
    testing::Values(
        LookupCase{"BesideTheProgramFirst",
                   {{beside, Entry::program}, {libexec, Entry::program}, {helpers, Entry::program}},
                   beside},
        LookupCase{"LibexecNext", {{libexec, Entry::program}, {helpers, Entry::program}}, libexec},
        LookupCase{"HelpersThen", {{helpers, Entry::program}}, helpers},
        LookupCase{"NotBesideTheLink", {{link, Entry::program}}, ""},
        LookupCase{"NonExecutableFileSkipped",
                   {{beside, Entry::plainFile}, {libexec, Entry::program}},
                   libexec},
        LookupCase{"FolderSkipped", {{beside, Entry::folder}, {helpers, Entry::program}}, helpers},
        LookupCase{"NoneFound", {}, ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CheckerLookup, WithoutAKnownProgramOnlyTheSystemFoldersAreSearched) {
    EXPECT_EQ(sentenceOf([] { Metric::helperURL(checkerName, std::nullopt); }),
              Sentences::checkerMissing);
    EXPECT_EQ(Metric::helperURL("env", std::nullopt), "/usr/bin/env");
}

TEST(ScratchFolder, IsPrivateNamedByAUUIDAndRemovedAfterwards) {
    fixtures::TemporaryFolder root;
    fs::path parent = root / "missing/parents";
    fs::path seen;
    double result = Metric::withScratchFolder(parent, [&](const fs::path &folder) {
        seen = folder;
        EXPECT_EQ(folder.parent_path(), parent);
        EXPECT_TRUE(std::regex_match(
            folder.filename().string(),
            std::regex(
                "flenned-metric-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
            << folder;
        EXPECT_TRUE(fs::is_directory(folder));
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
        fixtures::writeFile(folder / "reference.jpg", photo());
        return 7.5;
    });
    EXPECT_EQ(result, 7.5);
    EXPECT_FALSE(fs::exists(seen));
}

TEST(ScratchFolder, IsRemovedWhenTheBodyThrows) {
    fixtures::TemporaryFolder root;
    fs::path seen;
    EXPECT_THROW(Metric::withScratchFolder(root.path(),
                                           [&](const fs::path &folder) -> double {
                                               seen = folder;
                                               fixtures::writeFile(folder / "a", photo());
                                               throw CodecError("body failed");
                                           }),
                 CodecError);
    EXPECT_FALSE(seen.empty());
    EXPECT_FALSE(fs::exists(seen));
}

TEST(ScratchFolder, FailureToCreateItIsTheSystemsError) {
    fixtures::TemporaryFolder root;
    fixtures::writeFile(root / "file", photo());
    EXPECT_THROW(Metric::withScratchFolder(root / "file", [](const fs::path &) { return 0.0; }),
                 std::system_error);
}

// The real checker, built beside the tests, through the public entry point.
TEST(MetricWithBuiltChecker, IdenticalPhotosScore100AndACoarserCopyLess) {
    const char *bin = std::getenv("FLENN_BIN");
    ASSERT_NE(bin, nullptr) << "FLENN_BIN is not set; run the tests through ctest";
    fs::path checker = fs::path(bin) / "ssimulacra2";
    ASSERT_TRUE(fs::is_regular_file(checker))
        << checker << " is missing: the ssimulacra2 program has not been built";
    EXPECT_TRUE(fs::equivalent(Metric::helperURL("ssimulacra2"), checker));

    fixtures::JPEGOptions options;
    options.width = 256;
    options.height = 192;
    options.quality = 95;
    auto reference = fixtures::jpeg(options);
    options.quality = 20;
    auto coarser = fixtures::jpeg(options);
    EXPECT_EQ(Metric::score(reference, reference), 100.0);
    EXPECT_LT(Metric::score(reference, coarser), 100.0);
}

} // namespace
} // namespace flenn
