#include "Usage.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace {

std::mutex printLock;

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

} // namespace

[[noreturn]] void printUsageAndExit() {
    std::fputs("Usage: flenn [--preset compact|balanced|high|lossless] [--jobs N] -o EXPORT_FOLDER "
               "PHOTO_OR_FOLDER...\n"
               "       flenn [--preset ...] [--jobs N] --in-place PHOTO_OR_FOLDER...\n",
               stderr);
    std::exit(2);
}

void emit(std::string_view line, std::FILE *stream) {
    std::string text(line);
    text += '\n';
    std::lock_guard lock(printLock);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

void forEachConcurrently(std::size_t count, int workers,
                         const std::function<void(std::size_t)> &body) {
    std::mutex counterLock;
    std::size_t next = 0;
    auto work = [&] {
        for (;;) {
            std::size_t index;
            {
                std::lock_guard lock(counterLock);
                index = next++;
            }
            if (index >= count)
                return;
            body(index);
        }
    };
    std::size_t threads =
        std::min<std::size_t>(std::max<std::size_t>(count, 1), std::size_t(std::max(workers, 1)));
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < threads; t++)
        pool.emplace_back(work);
    work();
    for (std::thread &thread : pool)
        thread.join();
}

std::filesystem::path fileURL(const std::string &path) {
    return std::filesystem::absolute(expandingTilde(path));
}
