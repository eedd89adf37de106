#include "Publishing.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <ios>
#include <latch>
#include <new>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/fs.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "CodecError.h"
#include "Fixtures.h"
#include "Sentences.h"

namespace flenn {
namespace {

namespace fs = std::filesystem;
using fixtures::readFile;
using fixtures::TemporaryFolder;
using fixtures::writeFile;

// Failures name the row of a table of cases instead of dumping its bytes.
template <typename Row>
requires std::is_same_v<decltype(Row::name), const char *>
void PrintTo(const Row &row, std::ostream *out) {
    *out << row.name;
}

// Bytes that differ from those of every other seed.
Bytes filled(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = std::uint8_t(i * 31 + (i >> 8) + seed * 97);
    return Bytes(std::move(bytes));
}

// The sentence of the CodecError that `work` throws, or nothing when it succeeds.
std::optional<std::string> failureOf(const std::function<void()> &work) {
    try {
        work();
    } catch (const CodecError &error) {
        return error.message();
    }
    return std::nullopt;
}

// Our temporary files anywhere under `folder`.
std::vector<std::string> leftovers(const fs::path &folder) {
    std::vector<std::string> found;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".flenned-"))
            found.push_back(entry.path().string());
    return found;
}

// Sets or clears the immutable flag; false when the file system or our rights refuse.
bool setImmutable(const fs::path &path, bool immutable) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

// Clears the immutable flag when the scope ends, so a failed check cannot leave behind a
// temporary folder that nobody can remove.
struct UnlockAtExit {
    fs::path path;
    ~UnlockAtExit() { setImmutable(path, false); }
};

std::string systemText(const char *what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// The tests' mounts live in a mount namespace of this process alone: nobody else sees them, and
// they vanish with the process even when a test crashes before unmounting.
const std::string &privateMountsProblem() {
    static const std::string problem = []() -> std::string {
        if (::unshare(CLONE_NEWNS) != 0)
            return systemText("no mount namespace of our own (needs root)");
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return systemText("cannot make the mounts private");
        return {};
    }();
    return problem;
}

// A volume mounted for one test and unmounted when the scope ends.
class Mount {
  public:
    enum Kind { tinyTmpfs, readOnlyAgain };

    // tinyTmpfs: an empty tmpfs of 64 KiB at `point`; readOnlyAgain: `point` itself, read-only.
    Mount(Kind kind, fs::path point) : point_(std::move(point)), problem_(privateMountsProblem()) {
        if (!problem_.empty())
            return;
        const char *at = point_.c_str();
        if (kind == tinyTmpfs) {
            mounted_ = ::mount("flenn-test", at, "tmpfs", 0, "size=64k") == 0;
            if (!mounted_)
                problem_ = systemText("cannot mount a tmpfs");
            return;
        }
        mounted_ = ::mount(at, at, nullptr, MS_BIND, nullptr) == 0;
        if (!mounted_)
            problem_ = systemText("cannot bind-mount");
        else if (::mount(nullptr, at, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            problem_ = systemText("cannot remount read-only");
    }
    ~Mount() {
        if (mounted_)
            ::umount2(point_.c_str(), MNT_DETACH);
    }
    Mount(const Mount &) = delete;
    Mount &operator=(const Mount &) = delete;

    const std::string &problem() const { return problem_; }

  private:
    fs::path point_;
    std::string problem_;
    bool mounted_ = false;
};

#if defined(__x86_64__)
constexpr std::uint32_t thisArchitecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t thisArchitecture = AUDIT_ARCH_AARCH64;
#else
constexpr std::uint32_t thisArchitecture = 0;
#endif

// From now on the kernel answers the calling thread's exclusive renames with `refusal`, as a
// volume or kernel without them does; other threads are not affected. Returns why it could not.
std::string refuseExclusiveRenames(int refusal) {
    if (thisArchitecture == 0)
        return "no system-call filter written for this architecture";
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, thisArchitecture, 0, 4),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_renameat2, 0, 2),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[4])), // flags, low half
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, RENAME_NOREPLACE, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (std::uint32_t(refusal) & SECCOMP_RET_DATA)),
    };
    sock_fprog filter{.len = static_cast<unsigned short>(std::size(program)), .filter = program};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0)
        return systemText("cannot install a system-call filter");
    // The test must really run the path that it names. The call goes to the kernel directly,
    // because the C library may pass on its own errno instead (ENOSYS becomes EINVAL).
    if (::syscall(__NR_renameat2, AT_FDCWD, "/flenn-absent-a", AT_FDCWD, "/flenn-absent-b",
                  RENAME_NOREPLACE) == 0 ||
        errno != refusal)
        return "the system-call filter did not take effect";
    return {};
}

// Runs every piece of work on a thread of its own, all released at once. With a `refusal`, each
// thread's exclusive renames are refused with it. Returns why the threads could not be set up.
std::string onThreads(int refusal, const std::vector<std::function<void()>> &work) {
    std::vector<std::string> problems(work.size());
    std::vector<std::exception_ptr> thrown(work.size());
    std::latch start(std::ptrdiff_t(work.size()));
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < work.size(); ++i)
        threads.emplace_back([&, i] {
            if (refusal != 0)
                problems[i] = refuseExclusiveRenames(refusal);
            start.arrive_and_wait();
            if (!problems[i].empty())
                return;
            try {
                work[i]();
            } catch (...) {
                thrown[i] = std::current_exception();
            }
        });
    for (auto &thread : threads)
        thread.join();
    for (const auto &failure : thrown)
        if (failure)
            std::rethrow_exception(failure);
    for (const auto &problem : problems)
        if (!problem.empty())
            return problem;
    return {};
}

// ---------------------------------------------------------------------------------------------
// Plain sentences for failed file operations

struct MessageCase {
    const char *name;
    std::error_code error;
    std::string_view exportSentence;
    std::string_view inPlaceSentence;
};

constexpr std::string_view fallback = "Fallback.";

std::error_code fromErrno(int value) {
    return {value, std::generic_category()};
}

class PlainMessage : public testing::TestWithParam<MessageCase> {};

TEST_P(PlainMessage, GivesTheSentenceOfItsKindInBothModes) {
    const auto &row = GetParam();
    std::system_error thrown(row.error);
    EXPECT_EQ(Compressor::plainMessage(row.error, fallback, false), row.exportSentence);
    EXPECT_EQ(Compressor::plainMessage(row.error, fallback, true), row.inPlaceSentence);
    EXPECT_EQ(Compressor::plainMessage(thrown, fallback, false), row.exportSentence);
    EXPECT_EQ(Compressor::plainMessage(thrown, fallback, true), row.inPlaceSentence);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, PlainMessage,
    testing::Values(MessageCase{"NoAccess", fromErrno(EACCES), Sentences::exportNoPermission,
                                Sentences::inPlaceNoPermission},
                    MessageCase{"NotPermitted", std::error_code(EPERM, std::system_category()),
                                Sentences::exportNoPermission, Sentences::inPlaceNoPermission},
                    MessageCase{"ReadOnly", fromErrno(EROFS), Sentences::exportReadOnly,
                                Sentences::inPlaceReadOnly},
                    MessageCase{"NoSpace", fromErrno(ENOSPC), Sentences::exportDiskFull,
                                Sentences::inPlaceDiskFull},
                    MessageCase{"QuotaExceeded", fromErrno(EDQUOT), Sentences::exportDiskFull,
                                Sentences::inPlaceDiskFull},
                    MessageCase{"NoSuchFile", fromErrno(ENOENT), fallback, fallback},
                    MessageCase{"Exists", fromErrno(EEXIST), fallback, fallback},
                    // Its value is EPERM's, but it is no errno.
                    MessageCase{"StreamError", std::make_error_code(std::io_errc::stream), fallback,
                                fallback}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(PlainMessageOf, ErrorsThatCarryNoErrnoGetTheFallback) {
    const std::exception_ptr errors[] = {
        std::make_exception_ptr(CodecError("Something else.")),
        std::make_exception_ptr(std::runtime_error("read-only")),
        std::make_exception_ptr(std::bad_alloc()),
    };
    for (const auto &error : errors) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception &caught) {
            EXPECT_EQ(Compressor::plainMessage(caught, fallback, false), fallback) << caught.what();
            EXPECT_EQ(Compressor::plainMessage(caught, fallback, true), fallback) << caught.what();
        }
    }
}

TEST(PlainMessageOf, FileSystemErrorsAreSystemErrors) {
    fs::filesystem_error error("create_directories", "/media/card/out", fromErrno(EROFS));
    EXPECT_EQ(Compressor::plainMessage(error, fallback, false), Sentences::exportReadOnly);
}

// ---------------------------------------------------------------------------------------------
// Fingerprints

TEST(Fingerprint, ReadsSizeInodeAndModificationTimeThroughLinks) {
    TemporaryFolder folder;
    auto photo = folder / "photo.jpg";
    writeFile(photo, filled(1234, 1));
    timespec times[2] = {{0, UTIME_OMIT}, {1'600'000'000, 123'456'789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, photo.c_str(), times, 0), 0);
    fs::create_symlink(photo, folder / "link.jpg");
    struct stat info;
    ASSERT_EQ(::stat(photo.c_str(), &info), 0);

    auto print = Compressor::fingerprint(folder / "link.jpg");
    EXPECT_EQ(print.size, 1234u);
    EXPECT_EQ(print.inode, info.st_ino);
    EXPECT_EQ(print.modificationSeconds, 1'600'000'000);
    EXPECT_EQ(print.modificationNanoseconds, 123'456'789u);
    EXPECT_FALSE(print.locked);
}

TEST(Fingerprint, SaysLockedForAnImmutableFile) {
    TemporaryFolder folder;
    auto photo = folder / "photo.jpg";
    writeFile(photo, filled(10, 1));
    UnlockAtExit unlock{photo};
    if (!setImmutable(photo, true))
        GTEST_SKIP() << "cannot set the immutable flag here (needs root and ext4, xfs or btrfs)";
    EXPECT_TRUE(Compressor::fingerprint(photo).locked);
}

TEST(Fingerprint, OfAMissingFileThrowsTheSystemsText) {
    TemporaryFolder folder;
    EXPECT_EQ(failureOf([&] { Compressor::fingerprint(folder / "gone.jpg"); }),
              std::strerror(ENOENT));
}

// ---------------------------------------------------------------------------------------------
// Exports, with the volume's own exclusive rename and with each way of not offering one

struct RenameCase {
    const char *name;
    int refusal; // 0: the volume's own exclusive rename
};

class ExclusivePublish : public testing::TestWithParam<RenameCase> {
  protected:
    void SetUp() override {
        auto problem = onThreads(GetParam().refusal, {[] {}});
        if (!problem.empty())
            GTEST_SKIP() << problem;
    }

    // Publishes on a thread that meets this case's kind of volume; nothing means success.
    std::optional<std::string> publish(const Bytes &data, const fs::path &destination) {
        std::optional<std::string> failure;
        auto problem = onThreads(
            GetParam().refusal,
            {[&] { failure = failureOf([&] { Compressor::publish(data, destination); }); }});
        if (!problem.empty())
            throw std::runtime_error(problem);
        return failure;
    }
};

TEST_P(ExclusivePublish, CreatesTheFolderWithItsParents) {
    TemporaryFolder folder;
    auto destination = folder / "a" / "b" / "c" / "photo.jpg";
    auto data = filled(5000, 1);
    EXPECT_EQ(publish(data, destination), std::nullopt);
    EXPECT_TRUE(readFile(destination) == data);
    EXPECT_EQ(leftovers(folder.path()), std::vector<std::string>{});
}

struct Occupant {
    const char *name;
    std::function<void(const fs::path &)> make;
    std::function<bool(const fs::path &)> stillThere;
};

TEST_P(ExclusivePublish, NeverReplacesWhatIsAlreadyThere) {
    const Occupant occupants[] = {
        {"a file", [](const fs::path &at) { writeFile(at, Bytes::copying("theirs")); },
         [](const fs::path &at) { return readFile(at) == Bytes::copying("theirs"); }},
        {"a folder", [](const fs::path &at) { fs::create_directory(at); },
         [](const fs::path &at) { return fs::is_directory(at) && fs::is_empty(at); }},
        {"a dangling link", [](const fs::path &at) { fs::create_symlink("target.jpg", at); },
         [](const fs::path &at) {
             return fs::read_symlink(at) == "target.jpg" &&
                    !fs::exists(at.parent_path() / "target.jpg");
         }},
    };
    for (const auto &occupant : occupants) {
        SCOPED_TRACE(occupant.name);
        TemporaryFolder folder;
        auto destination = folder / "photo.jpg";
        occupant.make(destination);
        EXPECT_EQ(publish(filled(5000, 1), destination), Sentences::destinationExists);
        EXPECT_TRUE(occupant.stillThere(destination));
        EXPECT_EQ(leftovers(folder.path()), std::vector<std::string>{});
    }
}

TEST_P(ExclusivePublish, OtherRenameFailuresReportTheSystemsText) {
    TemporaryFolder folder;
    auto destination = folder / (std::string(300, 'n') + ".jpg");
    EXPECT_EQ(publish(filled(10, 1), destination), std::strerror(ENAMETOOLONG));
    EXPECT_EQ(leftovers(folder.path()), std::vector<std::string>{});
}

TEST_P(ExclusivePublish, RacingExportsOfOneNameHaveExactlyOneWinner) {
    TemporaryFolder folder;
    auto first = filled(20000, 1), second = filled(20000, 2);
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE(round);
        auto destination = folder / ("photo-" + std::to_string(round) + ".jpg");
        std::optional<std::string> firstFailure, secondFailure;
        auto problem = onThreads(
            GetParam().refusal,
            {[&] { firstFailure = failureOf([&] { Compressor::publish(first, destination); }); },
             [&] {
                 secondFailure = failureOf([&] { Compressor::publish(second, destination); });
             }});
        ASSERT_EQ(problem, "");
        ASSERT_NE(firstFailure.has_value(), secondFailure.has_value());
        EXPECT_EQ(firstFailure ? firstFailure : secondFailure, Sentences::destinationExists);
        EXPECT_TRUE(readFile(destination) == (firstFailure ? second : first));
    }
    EXPECT_EQ(leftovers(folder.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Volumes, ExclusivePublish,
                         testing::Values(RenameCase{"Offered", 0},
                                         RenameCase{"RefusedAsInvalid", EINVAL},
                                         RenameCase{"UnknownToTheKernel", ENOSYS},
                                         RenameCase{"NotSupported", EOPNOTSUPP}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Publish, AFileInPlaceOfTheFolderCannotBecomeTheExportFolder) {
    TemporaryFolder folder;
    writeFile(folder / "taken", Bytes::copying("x"));
    EXPECT_EQ(failureOf([&] { Compressor::publish(filled(10, 1), folder / "taken" / "a.jpg"); }),
              Sentences::cannotCreateExportFolder);
}

// ---------------------------------------------------------------------------------------------
// In place

// A photo with its fingerprint, as the pipeline holds them when it is ready to replace it.
struct Photo {
    TemporaryFolder folder;
    fs::path path = folder / "photo.jpg";
    Bytes original = filled(3000, 1);
    Bytes replacement = filled(2000, 2);
    Compressor::Fingerprint before;

    explicit Photo(mode_t mode = 0644) {
        writeFile(path, original);
        fs::permissions(path, fs::perms(mode));
        before = Compressor::fingerprint(path);
    }
    std::optional<std::string> replace() {
        return failureOf([&] { Compressor::replaceInPlace(replacement, path, before); });
    }
    struct stat status() const {
        struct stat info {};
        ::stat(path.c_str(), &info);
        return info;
    }
};

TEST(InPlace, ReplacesThePhotoWithANewFileKeepingItsPermissions) {
    Photo photo(04640); // the set-user-ID bit shows whether permissions outlive the owner change
    auto inode = photo.status().st_ino;
    EXPECT_EQ(photo.replace(), std::nullopt);
    EXPECT_TRUE(readFile(photo.path) == photo.replacement);
    EXPECT_EQ(photo.status().st_mode & 07777, 04640u);
    EXPECT_NE(photo.status().st_ino, inode);
    EXPECT_EQ(leftovers(photo.folder.path()), std::vector<std::string>{});
}

TEST(InPlace, KeepsOwnerAndGroupWhenRunAsRoot) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to someone else";
    Photo photo;
    ASSERT_EQ(::chown(photo.path.c_str(), 4321, 8765), 0);
    photo.before = Compressor::fingerprint(photo.path);
    EXPECT_EQ(photo.replace(), std::nullopt);
    EXPECT_EQ(photo.status().st_uid, 4321u);
    EXPECT_EQ(photo.status().st_gid, 8765u);
}

struct AttributeCase {
    const char *name;
    const char *attribute;
    std::string value;
};

// A POSIX access list as the kernel stores it: owner rw, user 1234 r, group r, mask r, others -.
std::string accessList() {
    struct Entry {
        std::uint16_t tag, permissions;
        std::uint32_t id;
    };
    const std::uint32_t version = 2, noId = 0xFFFFFFFF;
    const Entry entries[] = {
        {0x01, 6, noId}, {0x02, 4, 1234}, {0x04, 4, noId}, {0x10, 4, noId}, {0x20, 0, noId}};
    std::string list(reinterpret_cast<const char *>(&version), sizeof version);
    list.append(reinterpret_cast<const char *>(entries), sizeof entries);
    return list;
}

class InPlaceAttributes : public testing::TestWithParam<AttributeCase> {};

TEST_P(InPlaceAttributes, AreCopiedToTheNewFile) {
    const auto &row = GetParam();
    Photo photo(0640);
    if (::setxattr(photo.path.c_str(), row.attribute, row.value.data(), row.value.size(), 0) != 0)
        GTEST_SKIP() << systemText("this file system does not keep the attribute");
    photo.before = Compressor::fingerprint(photo.path);
    EXPECT_EQ(photo.replace(), std::nullopt);
    std::string kept(256, '\0');
    ssize_t size = ::getxattr(photo.path.c_str(), row.attribute, kept.data(), kept.size());
    ASSERT_GE(size, 0) << std::strerror(errno);
    kept.resize(std::size_t(size));
    EXPECT_EQ(kept, row.value);
    EXPECT_EQ(photo.status().st_mode & 07777, 0640u);
}

INSTANTIATE_TEST_SUITE_P(
    Attributes, InPlaceAttributes,
    testing::Values(AttributeCase{"UserComment", "user.xdg.comment", "Harbour at dusk"},
                    AttributeCase{"AccessList", "system.posix_acl_access", accessList()}),
    [](const auto &info) { return std::string(info.param.name); });

struct ChangeCase {
    const char *name;
    std::function<bool(const fs::path &)> change; // false: cannot be done here
};

bool setModification(const fs::path &path, timespec to) {
    timespec times[2] = {{0, UTIME_OMIT}, to};
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}
timespec modificationOf(const fs::path &path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mtim;
}
// Moves the modification time on by `nanoseconds`.
bool shiftModification(const fs::path &path, long nanoseconds) {
    auto time = modificationOf(path);
    long total = time.tv_nsec + nanoseconds;
    return setModification(path, {time.tv_sec + total / 1'000'000'000, total % 1'000'000'000});
}

class InPlaceChanged : public testing::TestWithParam<ChangeCase> {};

TEST_P(InPlaceChanged, PhotoIsLeftAsItWas) {
    Photo photo;
    UnlockAtExit unlock{photo.path};
    if (!GetParam().change(photo.path))
        GTEST_SKIP() << "this change cannot be made here (locking needs root)";
    auto changed = readFile(photo.path);
    EXPECT_EQ(photo.replace(), Sentences::photoChanged);
    EXPECT_TRUE(readFile(photo.path) == changed);
    EXPECT_EQ(leftovers(photo.folder.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Changes, InPlaceChanged,
    testing::Values(ChangeCase{"Touched",
                               [](const fs::path &p) {
                                   return shiftModification(p, 1'000'000'000);
                               }},
                    ChangeCase{"TouchedWithinTheSecond",
                               [](const fs::path &p) { return shiftModification(p, 1); }},
                    ChangeCase{"GrownKeepingItsTime",
                               [](const fs::path &p) {
                                   auto time = modificationOf(p);
                                   std::ofstream(p, std::ios::app) << 'x';
                                   return setModification(p, time);
                               }},
                    ChangeCase{"SavedAgainAsANewFile",
                               [](const fs::path &p) {
                                   auto again = p.parent_path() / "saved.jpg";
                                   fs::copy_file(p, again);
                                   return setModification(again, modificationOf(p)) &&
                                          ::rename(again.c_str(), p.c_str()) == 0;
                               }},
                    ChangeCase{"Locked", [](const fs::path &p) { return setImmutable(p, true); }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(InPlace, APhotoRemovedMeanwhileReportsTheSystemsText) {
    Photo photo;
    fs::remove(photo.path);
    EXPECT_EQ(photo.replace(), std::strerror(ENOENT));
    EXPECT_FALSE(fs::exists(photo.path));
    EXPECT_EQ(leftovers(photo.folder.path()), std::vector<std::string>{});
}

// ---------------------------------------------------------------------------------------------
// Volumes that refuse the write: read-only, full, or a folder that is locked

enum class Volume { readOnly, full, lockedFolder };
enum class Operation { exportBeside, exportIntoNewFolder, inPlace };

struct VolumeCase {
    const char *name;
    Volume volume;
    Operation operation;
    std::string_view sentence;
};

class RefusingVolume : public testing::TestWithParam<VolumeCase> {};

TEST_P(RefusingVolume, ReportsItsSentenceAndLeavesEverythingAsItWas) {
    const auto &row = GetParam();
    TemporaryFolder folder;
    auto volume = folder / "volume";
    fs::create_directory(volume);
    auto photo = volume / "photo.jpg";
    // 40 KB fit on the 64 KiB disk once, not twice: the second write fails part of the way.
    auto original = filled(40'000, 1), replacement = filled(40'000, 2);

    std::optional<Mount> mount;
    UnlockAtExit unlock{volume};
    std::string problem;
    if (row.volume == Volume::full) {
        problem = mount.emplace(Mount::tinyTmpfs, volume).problem();
        if (problem.empty())
            writeFile(photo, original);
    } else {
        writeFile(photo, original);
        if (row.volume == Volume::readOnly)
            problem = mount.emplace(Mount::readOnlyAgain, volume).problem();
        else if (!setImmutable(volume, true))
            problem = "cannot lock the folder here (needs root and ext4, xfs or btrfs)";
    }
    if (!problem.empty())
        GTEST_SKIP() << problem;

    auto destination = row.operation == Operation::exportIntoNewFolder
                           ? volume / "new" / "photo.jpg"
                           : volume / "photo-flenned.jpg";
    auto failure = failureOf([&] {
        if (row.operation == Operation::inPlace)
            Compressor::replaceInPlace(replacement, photo, Compressor::fingerprint(photo));
        else
            Compressor::publish(replacement, destination);
    });
    EXPECT_EQ(failure, row.sentence);
    EXPECT_TRUE(readFile(photo) == original);
    EXPECT_FALSE(fs::exists(destination));
    EXPECT_EQ(leftovers(volume), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, RefusingVolume,
    testing::Values(
        VolumeCase{"ReadOnlyExport", Volume::readOnly, Operation::exportBeside,
                   Sentences::exportReadOnly},
        VolumeCase{"ReadOnlyExportIntoNewFolder", Volume::readOnly, Operation::exportIntoNewFolder,
                   Sentences::exportReadOnly},
        VolumeCase{"ReadOnlyInPlace", Volume::readOnly, Operation::inPlace,
                   Sentences::inPlaceReadOnly},
        VolumeCase{"FullExport", Volume::full, Operation::exportBeside, Sentences::exportDiskFull},
        VolumeCase{"FullInPlace", Volume::full, Operation::inPlace, Sentences::inPlaceDiskFull},
        VolumeCase{"LockedFolderExport", Volume::lockedFolder, Operation::exportBeside,
                   Sentences::exportNoPermission},
        VolumeCase{"LockedFolderInPlace", Volume::lockedFolder, Operation::inPlace,
                   Sentences::inPlaceNoPermission}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace flenn
