#include <gtest/gtest.h>

#include "Compressor.h"
#include "Fixtures.h"
#include "JPEGSession.h"

namespace flenn {
namespace {

// One test over all photos: the list is read when the test runs, after CTest fetched them.
TEST(DevPhotos, RepacksDecodeToExactlyTheSourcePixels) {
    std::vector<std::filesystem::path> photos = fixtures::devPhotos();
    ASSERT_EQ(photos.size(), 21u) << "the developer photos are fetched by Tools/fetch-corpus dev";
    for (const auto &photo : photos) {
        SCOPED_TRACE(photo.filename().string());
        Bytes source = fixtures::readFile(photo);
        JPEGSession session(source);
        Bytes repacked = session.write(RequantSettings::lossless);
        EXPECT_EQ(JPEGSession(repacked).info().isProgressive, session.info().isProgressive);
        EXPECT_LE(repacked.size(), source.size() + 64) << "optimal tables never cost more than a header";
        fixtures::Pixels pixels = fixtures::decode(source);
        EXPECT_EQ(fixtures::decode(repacked), pixels);

        Compressor::Plan plan = Compressor::plan(source, Preset::lossless());
        if (plan.output) {
            EXPECT_EQ(fixtures::decode(*plan.output), pixels);
        }
    }
}

} // namespace
} // namespace flenn
