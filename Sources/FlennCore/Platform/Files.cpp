#include "Files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace flenn::Files {

namespace {

std::system_error systemError(int code) {
    return {code, std::generic_category()};
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_); // only ever read from: closing cannot lose data
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// Returns 0 or the errno of the write that failed; a full disk often shows only after a
// partial write, so every call is checked.
int writeAll(int fd, const std::uint8_t *data, std::size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += written;
        size -= std::size_t(written);
    }
    return 0;
}

// The answer of a call that reports the size it needs when given no buffer (listxattr,
// getxattr), or nothing when it fails. The loop covers a value that grows between the calls.
template <typename Call> std::optional<std::vector<char>> sized(Call call) {
    for (;;) {
        ssize_t size = call(nullptr, 0);
        if (size < 0)
            return std::nullopt;
        std::vector<char> buffer(static_cast<std::size_t>(size));
        ssize_t filled = call(buffer.data(), buffer.size());
        if (filled >= 0) {
            buffer.resize(std::size_t(filled));
            return buffer;
        }
        if (errno != ERANGE)
            return std::nullopt;
    }
}

void copyExtendedAttributes(const char *from, const char *to) {
    auto names = sized([&](char *list, std::size_t size) { return ::listxattr(from, list, size); });
    if (!names)
        return;
    for (std::size_t at = 0; at < names->size();) {
        const char *name = names->data() + at;
        at += std::char_traits<char>::length(name) + 1;
        auto value = sized(
            [&](char *buffer, std::size_t size) { return ::getxattr(from, name, buffer, size); });
        // Attributes that the target refuses (other file system, rights) are left out on purpose.
        if (value)
            ::setxattr(to, name, value->data(), value->size(), 0);
    }
}

} // namespace

Bytes readWholeFile(const std::filesystem::path &path) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        throw systemError(errno);
    struct stat info;
    if (::fstat(file.get(), &info) != 0)
        throw systemError(errno);
    // The spare byte lets the read that meets the end fit without growing the buffer; files
    // that do not know their size (those of /proc, pipes) grow it as they go.
    std::size_t capacity =
        S_ISREG(info.st_mode) && info.st_size > 0 ? std::size_t(info.st_size) + 1 : 64 * 1024;
    std::unique_ptr<std::uint8_t, decltype(&std::free)> buffer(
        static_cast<std::uint8_t *>(std::malloc(capacity)), &std::free);
    if (!buffer)
        throw std::bad_alloc();
    std::size_t count = 0;
    for (;;) {
        if (count == capacity) {
            auto *grown = static_cast<std::uint8_t *>(std::realloc(buffer.get(), capacity * 2));
            if (!grown)
                throw std::bad_alloc();
            buffer.release();
            buffer.reset(grown);
            capacity *= 2;
        }
        ssize_t got = ::read(file.get(), buffer.get() + count, capacity - count);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw systemError(errno);
        }
        count += std::size_t(got);
    }
    return Bytes::adoptingMalloced(buffer.release(), count);
}

void writeNewFile(const std::filesystem::path &path, const Bytes &bytes, mode_t permissions) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, permissions);
    if (fd < 0)
        throw systemError(errno);
    int failure = writeAll(fd, bytes.data(), bytes.size());
    if (failure == 0 && ::fsync(fd) != 0)
        failure = errno;
    // Network file systems may report a failed write only when the file is closed.
    if (::close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure != 0) {
        ::unlink(path.c_str());
        throw systemError(failure);
    }
}

std::error_code renameWithoutReplacing(const std::filesystem::path &from,
                                       const std::filesystem::path &to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    int error = errno;
    // EINVAL, ENOSYS and EOPNOTSUPP (ENOTSUP) mean that the volume or kernel offers no
    // exclusive rename; any other failure is final.
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP)
        return {error, std::generic_category()};
    int placeholder = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (placeholder < 0)
        return {errno, std::generic_category()};
    ::close(placeholder); // empty: nothing to lose
    if (::rename(from.c_str(), to.c_str()) == 0)
        return {};
    error = errno;
    ::unlink(to.c_str());
    return {error, std::generic_category()};
}

Status status(const std::filesystem::path &path) {
    // statx reports the immutable flag with the other fields in one call and without opening
    // the file; where a file system does not report it, the bit stays clear.
    struct statx info;
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_SIZE | STATX_INO | STATX_MTIME, &info) != 0)
        throw systemError(errno);
    return {.size = info.stx_size,
            .inode = info.stx_ino,
            .modificationSeconds = info.stx_mtime.tv_sec,
            .modificationNanoseconds = info.stx_mtime.tv_nsec,
            .immutable = (info.stx_attributes & STATX_ATTR_IMMUTABLE) != 0};
}

void copyMetadata(const std::filesystem::path &from, const std::filesystem::path &to) {
    copyExtendedAttributes(from.c_str(), to.c_str());
    struct stat info;
    if (::stat(from.c_str(), &info) != 0)
        return;
    // Owner first: changing it clears the set-id bits, which the permissions then restore.
    // Only root may give a file away, so for anyone else a refusal just keeps their own owner.
    [[maybe_unused]] int refused = ::chown(to.c_str(), info.st_uid, info.st_gid);
    ::chmod(to.c_str(), info.st_mode & 07777);
}

} // namespace flenn::Files
