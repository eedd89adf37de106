#pragma once

#include <cstdint>
#include <filesystem>
#include <system_error>

#include <sys/types.h>

#include "Bytes.h"

// The Linux file operations that reading photos and publishing new bytes rely on.
namespace flenn::Files {

// The whole file in one buffer, allocated once at the file's size. Throws std::system_error.
Bytes readWholeFile(const std::filesystem::path &path);

// Creates `path`, which must not exist yet, with `permissions` (less the umask), writes all of
// `bytes` and flushes them to the disk, so that a crash after a later rename cannot leave an
// empty or partial file behind. On failure the file is removed again and std::system_error is
// thrown (EEXIST when the name was taken).
void writeNewFile(const std::filesystem::path &path, const Bytes &bytes, mode_t permissions);

// Moves `from` to `to` unless something, even a dangling link, already exists at `to` (EEXIST).
// On volumes that cannot refuse a rename by themselves, an exclusively created placeholder
// claims the name first and is then replaced. Returns the failure, if any.
std::error_code renameWithoutReplacing(const std::filesystem::path &from,
                                       const std::filesystem::path &to);

// One look at a file, following symbolic links.
struct Status {
    std::uint64_t size = 0;
    std::uint64_t inode = 0;
    std::int64_t modificationSeconds = 0;
    std::uint32_t modificationNanoseconds = 0;
    bool immutable = false; // the inode's immutable flag; false where the file system has none
};
Status status(const std::filesystem::path &path); // throws std::system_error

// Gives `to` the extended attributes (POSIX access lists included), owner, group and permission
// bits of `from`. Best effort: whatever the file system or our rights refuse is left out.
void copyMetadata(const std::filesystem::path &from, const std::filesystem::path &to);

} // namespace flenn::Files
