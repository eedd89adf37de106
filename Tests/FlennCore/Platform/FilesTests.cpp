#include "Platform/Files.h"

#include <cerrno>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "Fixtures.h"

namespace flenn {
namespace {

namespace fs = std::filesystem;
using fixtures::readFile;
using fixtures::TemporaryFolder;
using fixtures::writeFile;

Bytes filled(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = std::uint8_t(i * 7 + (i >> 9));
    return Bytes(std::move(bytes));
}

// The errno of the std::system_error that `work` throws, or 0.
template <typename Work> int errnoOf(Work work) {
    try {
        work();
    } catch (const std::system_error &error) {
        EXPECT_EQ(error.code().category(), std::generic_category());
        return error.code().value();
    }
    return 0;
}

TEST(ReadWholeFile, ReturnsEveryByteAroundBufferEdges) {
    TemporaryFolder folder;
    for (std::size_t size : {0u, 1u, 65'535u, 65'536u, 65'537u, 3'000'001u}) {
        SCOPED_TRACE(size);
        auto path = folder / ("file-" + std::to_string(size));
        writeFile(path, filled(size));
        EXPECT_TRUE(Files::readWholeFile(path) == filled(size));
    }
}

TEST(ReadWholeFile, ReadsAStreamThatDoesNotKnowItsSize) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    auto sent = filled(300'000); // several times the first guess of an unknown size
    std::thread writer([&] {
        for (std::size_t at = 0; at < sent.size();) {
            ssize_t written = ::write(ends[1], sent.data() + at, sent.size() - at);
            if (written <= 0)
                break;
            at += std::size_t(written);
        }
        ::close(ends[1]);
    });
    auto received = Files::readWholeFile("/dev/fd/" + std::to_string(ends[0]));
    writer.join();
    ::close(ends[0]);
    EXPECT_TRUE(received == sent);
}

TEST(ReadWholeFile, FailuresCarryTheSystemError) {
    TemporaryFolder folder;
    EXPECT_EQ(errnoOf([&] { Files::readWholeFile(folder / "missing.jpg"); }), ENOENT);
    EXPECT_EQ(errnoOf([&] { Files::readWholeFile(folder.path()); }), EISDIR);
}

TEST(WriteNewFile, NeverReplacesAnExistingFile) {
    TemporaryFolder folder;
    auto path = folder / "photo.jpg";
    writeFile(path, Bytes::copying("theirs"));
    EXPECT_EQ(errnoOf([&] { Files::writeNewFile(path, filled(10), 0644); }), EEXIST);
    EXPECT_TRUE(readFile(path) == Bytes::copying("theirs"));
}

} // namespace
} // namespace flenn
