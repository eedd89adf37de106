#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "Job.h"

// Turns the files and folders a user names into photos to compress and inputs to leave alone.
// Every call reads the file system afresh and keeps nothing afterwards, so any thread may plan.
// The plans take an optional stop token: a stopped plan returns what it found so far, which the
// caller should discard.
namespace flenn::Batch {

struct Photo {
    Job job;
    // Export: the destination relative to the export folder ("Holiday 2/day one/IMG_0001.jpg").
    // In place: the parent folder's name, "/" and the file name.
    std::string name;
    std::int64_t bytes = 0; // the source's size when planned; 0 when unreadable

    friend bool operator==(const Photo &, const Photo &) = default;
};

struct Refusal {
    std::filesystem::path input; // exactly as the caller passed it
    std::string message;

    friend bool operator==(const Refusal &, const Refusal &) = default;
};

struct Plan {
    std::vector<Photo> photos; // in input order; inside a folder, in file-browser order
    std::vector<Refusal> refused;
};

// Lower-case file-name extensions of JPEG files.
inline constexpr std::array<std::string_view, 2> extensions{"jpg", "jpeg"};

// Folders that belong to other applications' libraries or bundles and are never entered.
inline constexpr std::array<std::string_view, 13> libraryExtensions{
    "photoslibrary", "photolibrary", "migratedphotolibrary", "aplibrary", "lrlibrary", "lrdata",
    "lrcat-data",    "cocatalog",    "imovielibrary",        "fcpbundle", "app",       "bundle",
    "framework"};

// By name alone; the contents are not read.
bool isJPEG(const std::filesystem::path &url);

// A folder (not a link to one) whose extension marks a library or bundle.
bool isPackage(const std::filesystem::path &url);

// The outermost library or bundle that contains the URL or is the URL itself.
std::optional<std::filesystem::path> package(const std::filesystem::path &enclosing);

// Every photo compressed in place.
Plan planForReplacing(const std::vector<std::filesystem::path> &inputs, std::stop_token stop = {});

// The sources of planForReplacing, in plan order, without its refusals.
std::vector<std::filesystem::path> files(const std::vector<std::filesystem::path> &inputs);

// Every photo copied into the export folder under a unique name that mirrors the input folders.
// Sources in `excluding` are already planned elsewhere and skipped silently; `reserving` holds
// top-level names of the export folder that the same batch already uses.
Plan plan(const std::vector<std::filesystem::path> &inputs,
          const std::filesystem::path &exportingTo,
          const std::unordered_set<std::filesystem::path> &excluding = {},
          const std::unordered_set<std::string> &reserving = {}, std::stop_token stop = {});

// The export plan's jobs; throws CodecError with the first refusal's sentence.
std::vector<Job> jobs(const std::vector<std::filesystem::path> &inputs,
                      const std::filesystem::path &exportingTo);

// One sentence for a list of refusals; none for an empty list.
std::optional<std::string> summary(const std::vector<Refusal> &refusals);

// The sentence to show when the export folder is one of the inputs (links are not resolved).
std::optional<std::string> exportFolderProblem(const std::filesystem::path &exportFolder,
                                               const std::vector<std::filesystem::path> &inputs);

// The name, or a numbered variant of it ("IMG 2.jpg", "Trip.2020 2"), that does not collide with
// `taken` when letter case and Unicode composition are ignored; it is added to `taken`, which
// holds folded names (Text::folded).
std::string unused(std::string_view name, bool isFolder, std::unordered_set<std::string> &taken);

} // namespace flenn::Batch

template <> struct std::hash<flenn::Batch::Photo> {
    std::size_t operator()(const flenn::Batch::Photo &photo) const noexcept;
};

template <> struct std::hash<flenn::Batch::Refusal> {
    std::size_t operator()(const flenn::Batch::Refusal &refusal) const noexcept;
};
