#include "Batch.h"
#include "BatchDetail.h"
#include "Text.h"

#include <algorithm>
#include <system_error>

namespace flenn::Batch::detail {

namespace {

namespace fs = std::filesystem;

// True for the folder itself and everything below it, compared by whole components.
bool isWithin(const fs::path &url, const fs::path &folder) {
    auto [inFolder, inURL] = std::mismatch(folder.begin(), folder.end(), url.begin(), url.end());
    return inFolder == folder.end();
}

bool isHidden(const fs::path &url) {
    const std::string name = url.filename().string();
    return !name.empty() && name.front() == '.';
}

} // namespace

std::vector<Found> photos(const fs::path &under, const fs::path *skipping, std::stop_token stop) {
    std::vector<Found> found;
    // One open listing per folder on the way down; a folder that cannot be listed is passed over
    // like an empty one, and the rest of the walk goes on.
    std::vector<fs::directory_iterator> open;
    std::error_code error;
    fs::directory_iterator top(under, error);
    if (!error)
        open.push_back(std::move(top));
    while (!open.empty() && !stop.stop_requested()) {
        fs::directory_iterator &listing = open.back();
        if (listing == fs::directory_iterator()) {
            open.pop_back();
            continue;
        }
        const fs::directory_entry entry = *listing;
        listing.increment(error);
        if (error)
            open.pop_back();

        const fs::path &url = entry.path();
        if (isHidden(url) || (skipping && isWithin(url, *skipping)))
            continue;
        // The entry's own type: a link is never followed, whatever it points to.
        const fs::file_status status = entry.symlink_status(error);
        if (error)
            continue;
        if (fs::is_directory(status)) {
            if (hasLibraryExtension(url.filename().string()))
                continue;
            fs::directory_iterator inner(url, error);
            if (!error)
                open.push_back(std::move(inner));
            continue;
        }
        if (!fs::is_regular_file(status) || !isJPEG(url))
            continue;
        const std::uintmax_t bytes = entry.file_size(error);
        found.push_back({url, error ? 0 : std::int64_t(bytes)});
    }
    std::stable_sort(found.begin(), found.end(), [](const Found &a, const Found &b) {
        return Text::compareLikeFileBrowser(a.url.string(), b.url.string()) < 0;
    });
    return found;
}

std::int64_t size(const fs::path &url) {
    std::error_code error;
    const std::uintmax_t bytes = fs::file_size(url, error);
    return error ? 0 : std::int64_t(bytes);
}

} // namespace flenn::Batch::detail
