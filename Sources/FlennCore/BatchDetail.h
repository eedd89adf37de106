#pragma once

#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <string_view>
#include <vector>

// Private to the Batch sources.
namespace flenn::Batch::detail {

struct Found {
    std::filesystem::path url;
    std::int64_t bytes = 0;
};

// The JPEGs under a folder, recursively, in file-browser order of their paths. Hidden entries,
// libraries and bundles, symbolic links and everything at or under `skipping` are left out.
std::vector<Found> photos(const std::filesystem::path &under, const std::filesystem::path *skipping,
                          std::stop_token stop);

// The file's size in bytes; 0 when it cannot be read.
std::int64_t size(const std::filesystem::path &url);

// The text after the last "." of the name's last component, in its own spelling; empty when
// there is none, or when the dot opens or ends that component (".profile", "draft.").
std::string_view pathExtension(std::string_view name);

// True when the extension of the name, lower-cased, marks a library or bundle.
bool hasLibraryExtension(std::string_view name);

} // namespace flenn::Batch::detail
