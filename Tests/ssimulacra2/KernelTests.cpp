// The AVX2 kernel and the portable one (fused multiply-adds through fmaf) give identical scores,
// so the checker's verdict does not depend on the CPU it runs on.
#include <gtest/gtest.h>

#include "Checker.h"
#include "Comparison.h"
#include "Fixtures.h"
#include "ImageFile.h"
#include "ImageFiles.h"

namespace flenn::checker {
namespace {

using ssimulacra2::Kernel;

struct Pair {
    std::string original, distorted;
};
void PrintTo(const Pair &pair, std::ostream *out) {
    *out << pair.original << " / " << pair.distorted;
}

class Kernels : public testing::TestWithParam<Pair> {};

TEST_P(Kernels, GiveIdenticalScores) {
    if (!ssimulacra2::runs(Kernel::avx2))
        GTEST_SKIP() << "this CPU has no AVX2 and FMA";
    auto original = ssimulacra2::readImage((casesFolder() / GetParam().original).string());
    auto distorted = ssimulacra2::readImage((casesFolder() / GetParam().distorted).string());
    double portable = ssimulacra2::compare(original, distorted, Kernel::portable);
    double avx2 = ssimulacra2::compare(original, distorted, Kernel::avx2);
    EXPECT_EQ(portable, avx2);
    EXPECT_LT(portable, 100.0);
}

INSTANTIATE_TEST_SUITE_P(Ssimulacra2, Kernels,
                         testing::Values(Pair{"chelsea_small.png", "chelsea_small_q50.jpg"},
                                         Pair{"chelsea.png", "chelsea_patch_plus1.png"},
                                         Pair{"coffee_odd.png", "coffee_odd_q75.jpg"}));

TEST(Kernels, GiveIdenticalScoresWithTransparency) {
    if (!ssimulacra2::runs(Kernel::avx2))
        GTEST_SKIP() << "this CPU has no AVX2 and FMA";
    fixtures::TemporaryFolder folder;
    writePNG(folder / "one.png", withAlpha(photo(70, 50, 1), 200));
    writePNG(folder / "two.png", withAlpha(photo(70, 50, 2), 90));
    auto one = ssimulacra2::readImage((folder / "one.png").string());
    auto two = ssimulacra2::readImage((folder / "two.png").string());
    EXPECT_EQ(ssimulacra2::compare(one, two, Kernel::portable),
              ssimulacra2::compare(one, two, Kernel::avx2));
}

} // namespace
} // namespace flenn::checker
