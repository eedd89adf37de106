#include "Metric.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Codec.h"
#include "CodecError.h"
#include "Platform/ChildProcess.h"
#include "Platform/System.h"
#include "Sentences.h"
#include "Text.h"

namespace flenn::Metric {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double checkerTimeout = 120;     // seconds, for every scoring
constexpr std::size_t keptBytes = 262'144; // of each output stream
constexpr auto stopGrace = 2s;             // after terminate, and again after kill
constexpr auto streamsGrace = 5s;          // for the streams to end once the checker has
constexpr std::size_t quotedCharacters = 300;

[[noreturn]] void fail(std::string_view sentence) {
    throw CodecError(std::string(sentence));
}

bool isExecutableFile(const fs::path &path) {
    std::error_code error;
    return fs::is_regular_file(path, error) && access(path.c_str(), X_OK) == 0;
}

// Where a checker may live, in the order tried: beside the running program (as installed, or in
// the build folder), in its libexec folder, in an app's Helpers folder, then the system's.
std::vector<fs::path> checkerLocations(std::string_view name,
                                       const std::optional<fs::path> &executable) {
    std::vector<fs::path> locations;
    if (executable) {
        std::error_code error;
        fs::path resolved = fs::weakly_canonical(*executable, error);
        fs::path folder = (error ? *executable : resolved).parent_path();
        locations.push_back(folder / name);
        locations.push_back(folder.parent_path() / "libexec" / "flenned" / name);
        locations.push_back(folder.parent_path() / "Helpers" / name);
    }
    for (const char *folder : {"/opt/homebrew/opt/jpeg-xl/bin", "/usr/local/opt/jpeg-xl/bin",
                               "/usr/local/bin", "/usr/bin"})
        locations.push_back(fs::path(folder) / name);
    return locations;
}

std::string_view trimmed(std::string_view text, std::string_view characters) {
    auto first = text.find_first_not_of(characters);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(characters) - first + 1);
}

std::vector<std::string_view> nonEmptyLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        auto end = text.find('\n');
        auto line = text.substr(0, end);
        if (!line.empty())
            lines.push_back(line);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

// The first `count` characters (code points) of valid UTF-8.
std::string_view leadingCharacters(std::string_view utf8, std::size_t count) {
    std::size_t characters = 0;
    for (std::size_t index = 0; index < utf8.size(); ++index)
        if ((std::uint8_t(utf8[index]) & 0xC0) != 0x80 && characters++ == count)
            return utf8.substr(0, index);
    return utf8;
}

double parsedScore(std::string_view output) {
    auto lines = nonEmptyLines(output);
    auto text = lines.empty() ? std::string_view() : trimmed(lines.front(), " \t");
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value))
        fail(Sentences::checkerUnreadableScore);
    return value;
}

std::string failureSentence(std::string_view complaint) {
    auto lines = nonEmptyLines(complaint);
    if (lines.empty())
        return std::string(Sentences::checkerFailed);
    return std::string(Sentences::checkerFailedPrefix) +
           std::string(leadingCharacters(lines.back(), quotedCharacters));
}

// The checker's way of saying it could not read an image format, in any letter case.
bool mentionsDecode(std::string_view complaint) {
    std::string lowered(complaint);
    for (char &character : lowered)
        if (character >= 'A' && character <= 'Z')
            character = char(character - 'A' + 'a');
    return lowered.find("decode") != std::string::npos;
}

void writeFile(const fs::path &path, const Bytes &bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::system_error(errno, std::system_category(), path.string());
    const std::uint8_t *data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t written = write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0) {
            int code = errno;
            close(fd);
            throw std::system_error(code, std::system_category(), path.string());
        }
        data += written;
        left -= std::size_t(written);
    }
    if (close(fd) != 0)
        throw std::system_error(errno, std::system_category(), path.string());
}

Clock::time_point after(std::chrono::duration<double> wait) {
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(wait);
}

ChildProcess startedChecker(const fs::path &checker, const fs::path &reference,
                            const fs::path &candidate) {
    try {
        return ChildProcess(checker, {reference.string(), candidate.string()},
                            {keptBytes, /*keepingEnd=*/false}, {keptBytes, /*keepingEnd=*/true});
    } catch (const std::system_error &) {
        fail(Sentences::checkerCouldNotStart);
    }
}

// The checker's complaint about a JPEG it could not decode is answered once, with pixels
// decoded by our own engine.
double runOnDecodedPixels(const fs::path &checker, const fs::path &reference,
                          const fs::path &candidate, double timeout) {
    return withScratchFolder(fs::temp_directory_path(), [&](const fs::path &folder) {
        fs::path referencePixels = folder / "reference.ppm";
        fs::path candidatePixels = folder / "candidate.ppm";
        if (!Codec::decode(reference, referencePixels) ||
            !Codec::decode(candidate, candidatePixels))
            fail(Sentences::checkerCannotDecode);
        return run(checker, referencePixels, candidatePixels, timeout);
    });
}

} // namespace

fs::path helperURL(std::string_view name) {
    return helperURL(name, System::runningExecutable());
}

fs::path helperURL(std::string_view name, const std::optional<fs::path> &executable) {
    for (const auto &location : checkerLocations(name, executable))
        if (isExecutableFile(location))
            return location;
    fail(Sentences::checkerMissing);
}

double score(const Bytes &reference, const Bytes &candidate) {
    return score(reference, candidate, helperURL("ssimulacra2"), checkerTimeout);
}

double score(const Bytes &reference, const Bytes &candidate, const fs::path &checker,
             double timeout) {
    double value = 0;
    try {
        value = withScratchFolder(fs::temp_directory_path(), [&](const fs::path &folder) {
            fs::path referenceFile = folder / "reference.jpg";
            fs::path candidateFile = folder / "candidate.jpg";
            writeFile(referenceFile, reference);
            writeFile(candidateFile, candidate);
            try {
                return run(checker, referenceFile, candidateFile, timeout);
            } catch (const Rejection &rejection) {
                if (!mentionsDecode(rejection.complaint))
                    throw;
            }
            return runOnDecodedPixels(checker, referenceFile, candidateFile, timeout);
        });
    } catch (const Rejection &rejection) {
        throw CodecError(failureSentence(rejection.complaint));
    }
    if (!(value <= 100))
        fail(Sentences::checkerUnreadableScore);
    return value;
}

double withScratchFolder(const fs::path &parent,
                         const std::function<double(const fs::path &)> &body) {
    fs::create_directories(parent);
    fs::path folder = parent / ("flenned-metric-" + System::newUUID());
    if (mkdir(folder.c_str(), 0700) != 0)
        throw std::system_error(errno, std::system_category(), folder.string());
    // Removed on every way out. A folder that cannot be removed must not replace the body's
    // outcome, so that failure is ignored.
    struct Removal {
        const fs::path &folder;
        ~Removal() {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    } removal{folder};
    return body(folder);
}

double run(const fs::path &checker, const fs::path &reference, const fs::path &candidate,
           double timeout) {
    ChildProcess process = startedChecker(checker, reference, candidate);
    if (!process.waitUntil(after(std::chrono::duration<double>(timeout)))) {
        process.terminate();
        if (!process.waitUntil(after(stopGrace))) {
            process.kill();
            process.waitUntil(after(stopGrace));
        }
        throw CodecError(Sentences::checkerTimedOut(Text::plainNumber(timeout)));
    }
    auto streamsDeadline = after(streamsGrace);
    auto output = process.output(streamsDeadline);
    auto error = process.error(streamsDeadline);
    auto status = process.exitStatus();
    if (!output || !error || !status) // a stream still open, or death by a signal
        fail(Sentences::checkerStoppedUnexpectedly);
    if (*status != 0)
        throw Rejection(std::string(trimmed(Text::repairedUTF8(*error), " \t\n\r\v\f")));
    return parsedScore(Text::repairedUTF8(*output));
}

} // namespace flenn::Metric
