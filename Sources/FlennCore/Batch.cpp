#include "Batch.h"
#include "BatchDetail.h"
#include "CodecError.h"
#include "Sentences.h"
#include "Text.h"

#include <algorithm>
#include <system_error>
#include <unordered_map>

namespace flenn::Batch {

namespace {

namespace fs = std::filesystem;

std::size_t combined(std::size_t seed, std::size_t value) {
    return seed ^ (value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2));
}

bool contains(const auto &names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Absolute, without "." and ".." and without a trailing "/"; links are left as they are.
fs::path standardized(const fs::path &url) {
    std::error_code error;
    fs::path result = fs::absolute(url, error);
    if (error)
        result = url;
    result = result.lexically_normal();
    if (!result.has_filename() && result.has_relative_path())
        result = result.parent_path();
    return result;
}

// Standardized, then with every link resolved. A missing tail stays as it is spelled, so that
// a refusal can still name it.
fs::path normalized(const fs::path &url) {
    const fs::path standard = standardized(url);
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(standard, error);
    return error ? standard : resolved;
}

std::string lastComponent(const fs::path &url) {
    return url.filename().string();
}

// "Photos Library" for ".../Photos Library.photoslibrary".
std::string displayName(const fs::path &url) {
    const std::string name = lastComponent(url);
    const std::size_t extension = detail::pathExtension(name).size();
    return extension == 0 ? name : name.substr(0, name.size() - extension - 1);
}

// Enclosing packages by parent folder, for one plan: inputs from one folder share the answer.
using PackageCache = std::unordered_map<fs::path, std::optional<fs::path>>;

std::optional<std::string> refusal(const fs::path &url, bool isFolder, PackageCache &known) {
    const fs::path parent = url.parent_path();
    auto enclosing = known.find(parent);
    if (enclosing == known.end())
        enclosing = known.emplace(parent, package(parent)).first;
    if (enclosing->second)
        return Sentences::insidePackage(lastComponent(url), displayName(*enclosing->second));
    if (isFolder && isPackage(url))
        return Sentences::libraryOrApp(displayName(url));
    return std::nullopt;
}

// One plan in the making; an export plan when there is a destination, else a plan for replacing.
class Planner {
  public:
    Planner(std::optional<fs::path> destination, std::unordered_set<fs::path> seen,
            const std::unordered_set<std::string> &reserved)
        : destination_(std::move(destination)), seen_(std::move(seen)) {
        for (const std::string &name : reserved)
            taken_.insert(Text::folded(name));
    }

    Plan run(const std::vector<fs::path> &inputs, std::stop_token stop) {
        for (const fs::path &input : inputs) {
            if (stop.stop_requested())
                break;
            add(input, stop);
        }
        return std::move(plan_);
    }

  private:
    void add(const fs::path &input, std::stop_token stop) {
        const fs::path url = normalized(input);
        std::error_code error;
        const fs::file_status status = fs::status(url, error);
        if (!fs::exists(status)) {
            // In place, a file that went away simply leaves nothing to compress.
            if (destination_)
                refuse(input, Sentences::noLongerAvailable(lastComponent(url)));
            return;
        }
        const bool isFolder = fs::is_directory(status);
        if (std::optional<std::string> message = refusal(url, isFolder, known_)) {
            refuse(input, std::move(*message));
            return;
        }
        if (isFolder)
            addFolder(input, url, stop);
        else if (isJPEG(url) && seen_.insert(url).second)
            addPhoto(url, detail::size(url),
                     [&] { return unused(lastComponent(url), false, taken_); });
    }

    void addFolder(const fs::path &input, const fs::path &url, std::stop_token stop) {
        if (destination_ && url == *destination_) {
            refuse(input, Sentences::exportFolderInside(lastComponent(url)));
            return;
        }
        // The export folder is never read back as input.
        std::vector<detail::Found> kept;
        for (detail::Found &found :
             detail::photos(url, destination_ ? &*destination_ : nullptr, stop))
            if (seen_.insert(found.url).second)
                kept.push_back(std::move(found));
        if (kept.empty())
            return;
        std::string folder;
        if (destination_)
            folder = unused(lastComponent(url), true, taken_);
        for (const detail::Found &found : kept)
            addPhoto(found.url, found.bytes, [&] {
                return unused(folder + "/" + found.url.lexically_relative(url).string(), false,
                              taken_);
            });
    }

    // `exportName` is asked only for an export plan, so that a plan for replacing takes no names.
    void addPhoto(const fs::path &source, std::int64_t bytes, const auto &exportName) {
        if (!destination_) {
            const std::string name =
                lastComponent(source.parent_path()) + "/" + lastComponent(source);
            plan_.photos.push_back({{source, source}, name, bytes});
            return;
        }
        std::string name = exportName();
        // Appended as a relative path, so the destination stays inside the export folder.
        fs::path target = *destination_ / fs::path(name).relative_path();
        plan_.photos.push_back({{source, std::move(target)}, std::move(name), bytes});
    }

    void refuse(const fs::path &input, std::string message) {
        plan_.refused.push_back({input, std::move(message)});
    }

    const std::optional<fs::path> destination_;
    std::unordered_set<fs::path> seen_;
    std::unordered_set<std::string> taken_;
    PackageCache known_;
    Plan plan_;
};

} // namespace

namespace detail {

bool hasLibraryExtension(std::string_view name) {
    return contains(libraryExtensions, Text::folded(pathExtension(name)));
}

} // namespace detail

bool isJPEG(const fs::path &url) {
    return contains(extensions, Text::folded(detail::pathExtension(url.filename().string())));
}

bool isPackage(const fs::path &url) {
    // Linux marks no folder as a package, so only the library extensions count.
    std::error_code error;
    const fs::file_status status = fs::symlink_status(url, error);
    return !error && fs::is_directory(status) && detail::hasLibraryExtension(lastComponent(url));
}

std::optional<fs::path> package(const fs::path &enclosing) {
    // The outermost one wins, so a bundle nested in a library is reported by the library.
    std::optional<fs::path> outermost;
    for (fs::path url = enclosing; url.has_relative_path(); url = url.parent_path())
        if (isPackage(url))
            outermost = url;
    return outermost;
}

Plan planForReplacing(const std::vector<fs::path> &inputs, std::stop_token stop) {
    return Planner(std::nullopt, {}, {}).run(inputs, stop);
}

std::vector<fs::path> files(const std::vector<fs::path> &inputs) {
    std::vector<fs::path> sources;
    for (Photo &photo : planForReplacing(inputs).photos)
        sources.push_back(std::move(photo.job.source));
    return sources;
}

Plan plan(const std::vector<fs::path> &inputs, const fs::path &exportingTo,
          const std::unordered_set<fs::path> &excluding,
          const std::unordered_set<std::string> &reserving, std::stop_token stop) {
    return Planner(normalized(exportingTo), excluding, reserving).run(inputs, stop);
}

std::vector<Job> jobs(const std::vector<fs::path> &inputs, const fs::path &exportingTo) {
    Plan planned = plan(inputs, exportingTo);
    if (!planned.refused.empty())
        throw CodecError(planned.refused.front().message);
    std::vector<Job> result;
    for (Photo &photo : planned.photos)
        result.push_back(std::move(photo.job));
    return result;
}

std::optional<std::string> summary(const std::vector<Refusal> &refusals) {
    if (refusals.empty())
        return std::nullopt;
    return Sentences::refusalSummary(refusals.front().message, refusals.size());
}

std::optional<std::string> exportFolderProblem(const fs::path &exportFolder,
                                               const std::vector<fs::path> &inputs) {
    const fs::path folder = standardized(exportFolder);
    for (const fs::path &input : inputs) {
        const fs::path url = standardized(input);
        if (url == folder)
            return Sentences::exportFolderInside(lastComponent(url));
    }
    return std::nullopt;
}

} // namespace flenn::Batch

std::size_t std::hash<flenn::Job>::operator()(const flenn::Job &job) const noexcept {
    return flenn::Batch::combined(std::filesystem::hash_value(job.source),
                                  std::filesystem::hash_value(job.destination));
}

std::size_t
std::hash<flenn::Batch::Photo>::operator()(const flenn::Batch::Photo &photo) const noexcept {
    std::size_t seed = std::hash<flenn::Job>()(photo.job);
    seed = flenn::Batch::combined(seed, std::hash<std::string>()(photo.name));
    return flenn::Batch::combined(seed, std::hash<std::int64_t>()(photo.bytes));
}

std::size_t
std::hash<flenn::Batch::Refusal>::operator()(const flenn::Batch::Refusal &refusal) const noexcept {
    return flenn::Batch::combined(std::filesystem::hash_value(refusal.input),
                                  std::hash<std::string>()(refusal.message));
}
