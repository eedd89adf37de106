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
    auto original = ssimulacra2::openImage((casesFolder() / GetParam().original).string());
    auto distorted = ssimulacra2::openImage((casesFolder() / GetParam().distorted).string());
    double portable = ssimulacra2::compare(*original, *distorted, Kernel::portable);
    double avx2 = ssimulacra2::compare(*original, *distorted, Kernel::avx2);
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
    auto one = ssimulacra2::openImage((folder / "one.png").string());
    auto two = ssimulacra2::openImage((folder / "two.png").string());
    EXPECT_EQ(ssimulacra2::compare(*one, *two, Kernel::portable),
              ssimulacra2::compare(*one, *two, Kernel::avx2));
}

// The rows of a picture held in memory.
class PictureReader final : public ssimulacra2::ImageReader {
  public:
    explicit PictureReader(Picture picture) : picture_(std::move(picture)) {
        info_.width = picture_.width;
        info_.height = picture_.height;
        info_.channels = picture_.channels;
    }
    const std::uint8_t *nextRow() override {
        return &picture_.samples[std::size_t(row_++) * info_.rowBytes()];
    }
    void rewind() override { row_ = 0; }

  private:
    Picture picture_;
    int row_ = 0;
};

// Sizes at the edges of the blur's phases (no four-step blocks below 15 columns), of the row
// batches, of the column strips (256) and of the scale pyramid (a scale exists while the one
// before it is at least 8 x 8).
class Sizes : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(Sizes, GiveIdenticalScoresInBothKernels) {
    auto [width, height] = GetParam();
    PictureReader one(photo(width, height, 1)), same(photo(width, height, 1)),
        two(photo(width, height, 2));
    EXPECT_EQ(ssimulacra2::compare(one, same, Kernel::portable), 100.0);
    double portable = ssimulacra2::compare(one, two, Kernel::portable);
    EXPECT_LT(portable, 100.0);
    if (ssimulacra2::runs(Kernel::avx2)) {
        EXPECT_EQ(ssimulacra2::compare(one, same, Kernel::avx2), 100.0);
        EXPECT_EQ(ssimulacra2::compare(one, two, Kernel::avx2), portable);
    }
}

INSTANTIATE_TEST_SUITE_P(Ssimulacra2, Sizes,
                         testing::Values(std::pair{8, 8}, std::pair{9, 8}, std::pair{14, 15},
                                         std::pair{15, 16}, std::pair{16, 9}, std::pair{8, 300},
                                         std::pair{300, 8}, std::pair{257, 13},
                                         std::pair{513, 23}));

} // namespace
} // namespace flenn::checker
