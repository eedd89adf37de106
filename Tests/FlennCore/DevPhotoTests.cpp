#include <gtest/gtest.h>

#include <cmath>

#include "Compressor.h"
#include "Fixtures.h"
#include "JPEGSession.h"
#include "Measurements.h"

namespace flenn {
namespace {

// Whether two sizes move the same way: both fall, both rise, or both stay within 1 %.
bool sameDirection(double estimateFrom, double estimateTo, double actualFrom, double actualTo) {
    auto direction = [](double from, double to) {
        return std::abs(to / from - 1) <= 0.01 ? 0 : to < from ? -1 : 1;
    };
    return direction(estimateFrom, estimateTo) == direction(actualFrom, actualTo);
}

// On real photos every feature is finite, and both size estimates move with strength the way
// real writes do. The standard-table estimate never rises with strength; the matched estimate
// may (its tables and cuts are not monotone in the scale), but then so do the writes.
void checkEstimates(const std::filesystem::path &photo) {
    Bytes data = fixtures::readFile(photo);
    JPEGSession session(data);
    Measurements m = session.measure();
    ASSERT_EQ(m.features.size(), 166u);
    for (const auto &[name, value] : m.features)
        EXPECT_TRUE(std::isfinite(value)) << name;
    for (std::size_t i = 1; i < 16; i++)
        EXPECT_LE(m.estimatedBits[i], m.estimatedBits[i - 1]) << i;
    EXPECT_LE(m.matchedBits[15], m.matchedBits[0]);
    if (!session.info().isSimple)
        return; // the writes below are for the photos the pipeline rewrites

    // Standard tables at 300 and 900 per mille: grid steps 8 and 14.
    double gentle = double(session.write(RequantSettings::standardTables(300)).size());
    double strong = double(session.write(RequantSettings::standardTables(900)).size());
    EXPECT_TRUE(sameDirection(m.estimatedBits[8], m.estimatedBits[14], gentle, strong))
        << m.estimatedBits[8] << " → " << m.estimatedBits[14] << " bits against " << gentle << " → "
        << strong << " bytes";

    ASSERT_TRUE(m.matched);
    double markers = double(session.info().markerBytes);
    double previousEstimate = 0, previousActual = 0;
    for (double scale : {0.1, 0.3, 0.6}) {
        double estimate = m.matched->bits(scale) / 8 + markers;
        double actual = double(session.write(RequantSettings::matched(scale)).size());
        EXPECT_NEAR(estimate / actual, 1, 0.25) << scale;
        if (previousActual > 0) {
            EXPECT_TRUE(sameDirection(previousEstimate, estimate, previousActual, actual))
                << scale << ": " << previousEstimate << " → " << estimate << " against "
                << previousActual << " → " << actual;
        }
        previousEstimate = estimate;
        previousActual = actual;
    }
}

// The photo list is read when a test runs, after CTest fetched the photos, so each test loops
// over all of them.
std::vector<std::filesystem::path> allDevPhotos() {
    std::vector<std::filesystem::path> photos = fixtures::devPhotos();
    EXPECT_EQ(photos.size(), 21u) << "the developer photos are fetched by Tools/fetch-corpus dev";
    return photos;
}

TEST(DevPhotos, EstimatesFollowStrength) {
    for (const auto &photo : allDevPhotos()) {
        SCOPED_TRACE(photo.filename().string());
        checkEstimates(photo);
    }
}

TEST(DevPhotos, RepacksDecodeToExactlyTheSourcePixels) {
    for (const auto &photo : allDevPhotos()) {
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
