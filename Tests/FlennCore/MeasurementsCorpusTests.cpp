#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "Fixtures.h"
#include "JPEGSession.h"

namespace flenn {
namespace {

class DevPhoto : public testing::TestWithParam<std::filesystem::path> {};

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
TEST_P(DevPhoto, EstimatesFollowStrength) {
    Bytes data = fixtures::readFile(GetParam());
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

INSTANTIATE_TEST_SUITE_P(Corpus, DevPhoto, testing::ValuesIn(fixtures::devPhotos()),
                         [](const testing::TestParamInfo<std::filesystem::path> &info) {
                             std::string name;
                             for (char c : info.param.stem().string())
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DevPhoto);

} // namespace
} // namespace flenn
