#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "Bytes.h"

// Putting new bytes on disk: an export never replaces an existing file, and a photo replaced
// in place is swapped in one rename or left as it was. Failures throw CodecError.
namespace flenn::Compressor {

// What is compared to notice that a photo changed on disk while it was being compressed.
struct Fingerprint {
    std::uint64_t size = 0;
    std::uint64_t inode = 0;
    std::int64_t modificationSeconds = 0;
    std::uint32_t modificationNanoseconds = 0;
    bool locked = false; // the file's immutable flag

    // Same size, inode and modification time; `locked` is not part of the match.
    bool matches(const Fingerprint &other) const {
        return size == other.size && inode == other.inode &&
               modificationSeconds == other.modificationSeconds &&
               modificationNanoseconds == other.modificationNanoseconds;
    }
};

// Follows symbolic links. Throws CodecError with the system's text for the failure.
Fingerprint fingerprint(const std::filesystem::path &file);

// The sentence for a failed file operation: permission, read-only and full-disk failures have
// their own wording for exports and for in-place runs; everything else gets `fallback`.
// Only errno values (generic or system category) count; other error kinds get the fallback.
std::string plainMessage(std::error_code error, std::string_view fallback, bool inPlace);
std::string plainMessage(const std::exception &error, std::string_view fallback, bool inPlace);

// Writes `data` to `destination`, creating its folder as needed, through a temporary file in that
// folder and a rename that fails rather than replace anything already there.
void publish(const Bytes &data, const std::filesystem::path &destination);

// Replaces `photo` with `data` in one rename, keeping its extended attributes, permissions and
// (where allowed) owner, unless the photo no longer matches `before` or has been locked.
void replaceInPlace(const Bytes &data, const std::filesystem::path &photo,
                    const Fingerprint &before);

} // namespace flenn::Compressor
