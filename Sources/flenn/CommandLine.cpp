#include "CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <deque>

#include <pwd.h>
#include <unistd.h>

#include "DeveloperModes.h"
#include "Platform/System.h"
#include "Usage.h"

namespace {

std::optional<std::string> homeOf(const std::string &user) {
    if (user.empty()) {
        if (const char *home = std::getenv("HOME"); home && *home)
            return home;
        if (passwd *entry = getpwuid(getuid()))
            return entry->pw_dir;
        return std::nullopt;
    }
    if (passwd *entry = getpwnam(user.c_str()))
        return entry->pw_dir;
    return std::nullopt;
}

std::string expandingTilde(const std::string &path) {
    if (path.empty() || path[0] != '~')
        return path;
    std::size_t slash = path.find('/');
    std::string user = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    std::optional<std::string> home = homeOf(user);
    if (!home)
        return path;
    return *home + (slash == std::string::npos ? "" : path.substr(slash));
}

std::optional<int> integer(const std::string &text) {
    std::string_view digits = text;
    if (!digits.empty() && digits[0] == '+')
        digits.remove_prefix(1);
    int value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty())
        return std::nullopt;
    return value;
}

std::optional<double> number(const std::string &text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return std::nullopt;
    char *end = nullptr;
    errno = 0;
    double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size())
        return std::nullopt;
    return value;
}

int defaultJobs() { return std::max(flenn::System::activeProcessorCount() - 1, 2); }

} // namespace

std::filesystem::path fileURL(const std::string &path) {
    return std::filesystem::absolute(expandingTilde(path));
}

Request readCommandLine(std::vector<std::string> arguments) {
    std::deque<std::string> args(arguments.begin(), arguments.end());
    Request request;
    request.jobs = defaultJobs();
    auto next = [&args]() {
        if (args.empty())
            printUsageAndExit();
        std::string value = std::move(args.front());
        args.pop_front();
        return value;
    };
    while (!args.empty()) {
        std::string arg = next();
        if (arg == "-o" || arg == "--output") {
            request.output = fileURL(next());
        } else if (arg == "--in-place") {
            request.inPlace = true;
        } else if (arg == "--preset") {
            std::optional<flenn::Preset> preset = flenn::Preset::named(next());
            if (!preset)
                printUsageAndExit();
            request.preset = *preset;
        } else if (arg == "--jobs") {
            std::optional<int> jobs = integer(next());
            if (!jobs || *jobs < 1)
                printUsageAndExit();
            request.jobs = *jobs;
        } else if (arg == "--floor") {
            std::optional<double> floor = number(next());
            if (!floor)
                printUsageAndExit();
            request.preset.floor = *floor;
            request.preset.matchesOstrel = false;
        } else if (arg == "--features") {
            std::exit(runFeatures(std::vector<std::string>(args.begin(), args.end()), request.jobs));
        } else if (arg == "--matched") {
            std::exit(runMatched(std::vector<std::string>(args.begin(), args.end()), request.jobs));
        } else if (arg == "-h" || arg == "--help") {
            printUsageAndExit();
        } else {
            request.inputs.push_back(fileURL(arg));
        }
    }
    if (request.inputs.empty() || request.inPlace == request.output.has_value())
        printUsageAndExit();
    return request;
}
