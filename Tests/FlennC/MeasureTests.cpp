#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CoefficientJPEG.h"
#include "Fixtures.h"

#include "measure.h"

namespace flenn {
namespace {

using fixtures::CoefficientComponent;
using fixtures::Color;
using fixtures::JPEGOptions;

using Table = std::array<std::uint16_t, 64>;

template <typename Adjust> Bytes photo(Adjust adjust) {
    JPEGOptions options;
    adjust(options);
    return fixtures::jpeg(options);
}

Table flat(std::uint16_t value) {
    Table table;
    table.fill(value);
    return table;
}

// The measurements of one JPEG, with the session closed again.
struct Measured {
    std::unique_ptr<flenn_measurements, void (*)(flenn_measurements *)> record{
        nullptr, flenn_measurements_free};
    std::vector<std::string> names;

    double operator[](const std::string &name) const {
        for (int i = 0; i < int(names.size()); i++)
            if (names[std::size_t(i)] == name)
                return flenn_measurements_value(record.get(), i);
        ADD_FAILURE() << "no feature " << name;
        return NAN;
    }
};

Measured measure(const Bytes &jpeg) {
    flenn_session *session = nullptr;
    char message[256] = "";
    EXPECT_EQ(flenn_session_open(jpeg.data(), jpeg.size(), &session, message, sizeof message), 0)
        << message;
    Measured measured;
    flenn_measurements *record = nullptr;
    EXPECT_EQ(flenn_session_measure(session, &record, message, sizeof message), 0) << message;
    flenn_session_close(session);
    measured.record.reset(record);
    for (int i = 0; i < flenn_measurements_count(record); i++)
        measured.names.emplace_back(flenn_measurements_name(record, i));
    return measured;
}

const double ln60 = 4.0943445622221;
const double ln1200 = 7.090076835776092;
const std::vector<int> selected = {100, 150, 220, 300, 450, 600, 900};

std::vector<std::string> expectedNames() {
    std::vector<std::string> names = {"log_mp",      "bpp_image", "log_bpp", "sub",
                                      "progressive", "lq_mean",   "lq_dc",   "cq_mean"};
    for (int n : {1, 2, 4, 8, 16})
        names.push_back("sd_lt" + std::to_string(n));
    for (const char *kind : {"sd", "hf"})
        for (int p : {5, 10, 25, 50, 75, 90, 99})
            names.push_back(std::string("log_") + kind + "_p" + std::to_string(p));
    for (const char *name :
         {"log_ac_energy", "e_low", "e_mid", "e_high", "log_e_high", "log_e_mid"})
        names.push_back(name);
    for (int level = 0; level < 6; level++)
        names.push_back("e_share_c" + std::to_string(level));
    for (const char *name :
         {"log_c_energy", "c_energy_share", "log_c_sd_p50", "log_c_sd_p90", "c_bits_share0",
          "rho0_l", "log_rho0", "one_share0", "mag_per_nz0", "log_est_bpp0", "est_vs_actual0"})
        names.push_back(name);
    for (int n : selected)
        for (const char *stem : {"log_rho_l_", "log_rho_c_", "log_est_bpp_", "bits_ratio_",
                                 "log_mse_l_", "log_mse_flat_", "log_mse_masked_", "log_mse_c_",
                                 "lost_", "log_lostE_", "c_lost_", "rel_"})
            names.push_back(stem + std::to_string(n));
    for (const char *name :
         {"slope_bits_150_300",    "slope_bits_300_600",    "slope_mse_150_300",
          "iso_mse_l_2.0",         "iso_mse_l_4.0",         "iso_mse_l_8.0",
          "iso_mse_masked_0.02",   "iso_mse_masked_0.05",   "iso_mse_flat_0.3",
          "iso_mse_flat_0.6",      "iso_lost_0.1",          "iso_lost_0.25",
          "iso_mse_c_2.0",         "iso_bpp_0.5",           "iso_bpp_1.0",
          "iso_bpp_1.5",           "iso_ratio_0.35",        "iso_ratio_0.5",
          "iso_rel_0.05",          "iso_rel_0.1",           "iso_tex_0.95",
          "iso_reg24_tex_p1_0.7",  "iso_reg24_tex_p1_0.5",  "iso_reg12_tex_min_0.9",
          "iso_reg12_tex_min_0.8", "iso_reg12_tex_min_0.7", "iso_reg12_tex_min_0.5",
          "reg12_tex_min_220",     "reg12_tex_min_300",     "reg12_tex_min_450",
          "reg12_tex_min_600",     "iso_reg6_tex_min_0.8"})
        names.push_back(name);
    return names;
}

// A greyscale picture of DC values only: no AC coefficient anywhere.
Bytes flatPhoto() {
    CoefficientComponent grey;
    grey.table = flat(4);
    grey.fill = [](int row, int column, JCOEF *block) {
        block[0] = JCOEF((row * 7 + column * 3) % 40 - 20);
    };
    return fixtures::coefficientJPEG(64, 64, {grey});
}

struct NamedPhoto {
    const char *name;
    Bytes (*make)();
};

class EveryPhoto : public testing::TestWithParam<NamedPhoto> {};

TEST_P(EveryPhoto, Emits166FiniteFeaturesInOneOrder) {
    Measured m = measure(GetParam().make());
    EXPECT_EQ(m.names, expectedNames());
    for (int i = 0; i < flenn_measurements_count(m.record.get()); i++)
        EXPECT_TRUE(std::isfinite(flenn_measurements_value(m.record.get(), i)))
            << m.names[std::size_t(i)];
    for (int i = 0; i < 16; i++) {
        EXPECT_TRUE(std::isfinite(flenn_measurements_estimated_bits(m.record.get(), i)));
        EXPECT_TRUE(std::isfinite(flenn_measurements_matched_bits(m.record.get(), i)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Photos, EveryPhoto,
    testing::Values(
        NamedPhoto{"grey", [] { return photo([](auto &o) { o.color = Color::grey; }); }},
        NamedPhoto{"yuv420", [] { return photo([](auto &o) { o.width = 200, o.height = 120; }); }},
        NamedPhoto{"yuv444", [] { return photo([](auto &o) { o.hSampling = o.vSampling = 1; }); }},
        NamedPhoto{"tiny", [] { return photo([](auto &o) { o.width = o.height = 16; }); }},
        NamedPhoto{"progressive",
                   [] { return photo([](auto &o) { o.quality = 60, o.progressive = true; }); }},
        NamedPhoto{"cmyk", [] { return photo([](auto &o) { o.color = Color::cmyk; }); }},
        NamedPhoto{"rgb", [] { return photo([](auto &o) { o.color = Color::rgb; }); }},
        NamedPhoto{"flat", flatPhoto}),
    [](const testing::TestParamInfo<NamedPhoto> &info) { return std::string(info.param.name); });

TEST(Measure, GreyPhotoHasNeutralChromaFeatures) {
    Measured m = measure(photo([](auto &o) { o.color = Color::grey; }));
    EXPECT_EQ(m["cq_mean"], 0);
    EXPECT_DOUBLE_EQ(m["log_c_energy"], -13.815510557964274);
    EXPECT_EQ(m["c_energy_share"], 0);
    EXPECT_DOUBLE_EQ(m["log_c_sd_p50"], -2.995732273553991);
    EXPECT_DOUBLE_EQ(m["log_c_sd_p90"], -2.995732273553991);
    EXPECT_EQ(m["c_bits_share0"], 0);
    for (int n : selected)
        EXPECT_EQ(m["c_lost_" + std::to_string(n)], 0) << n;
}

TEST(Measure, FlatPhotoLosesNothingAndKeepsNoTexture) {
    Measured m = measure(flatPhoto());
    EXPECT_EQ(m["sd_lt1"], 1);
    for (int n : selected) {
        EXPECT_EQ(m["lost_" + std::to_string(n)], 1) << n;
        EXPECT_EQ(m["rel_" + std::to_string(n)], 0) << n;
    }
    for (int p : {5, 10, 25, 50, 75, 90, 99}) {
        EXPECT_DOUBLE_EQ(m["log_sd_p" + std::to_string(p)], std::log(0.05)) << p;
        EXPECT_DOUBLE_EQ(m["log_hf_p" + std::to_string(p)], std::log(0.05)) << p;
    }
    EXPECT_DOUBLE_EQ(m["iso_tex_0.95"], ln1200);
    for (int n : {220, 300, 450, 600})
        EXPECT_EQ(m["reg12_tex_min_" + std::to_string(n)], 1) << n;
    for (const char *iso :
         {"iso_reg24_tex_p1_0.7", "iso_reg12_tex_min_0.5", "iso_reg6_tex_min_0.8"})
        EXPECT_DOUBLE_EQ(m[iso], ln1200) << iso;
    EXPECT_DOUBLE_EQ(m["iso_lost_0.1"], ln60); // the lost share is 1 from the first step on
}

// Every block holds one AC value of magnitude 255 or more on a table of ones: each counts as
// 255, eight magnitude bits, and the size estimate follows the fixed allowances exactly.
TEST(Measure, LargeMagnitudesCountAs255) {
    CoefficientComponent grey;
    grey.table = flat(1);
    grey.fill = [](int row, int column, JCOEF *block) {
        block[1] = (row + column) % 2 ? 300 : -1000;
    };
    Measured m = measure(fixtures::coefficientJPEG(64, 64, {grey}));
    EXPECT_EQ(m["mag_per_nz0"], 8);
    EXPECT_EQ(m["one_share0"], 0);
    EXPECT_DOUBLE_EQ(m["rho0_l"], 1.0 / 64);
    // 64 blocks, 64 non-zero values of 8 bits, no DC change: 3.7 × 64 + 3.41 × 64 + 512.
    EXPECT_DOUBLE_EQ(m["log_est_bpp0"], std::log(967.04 / 4096));
    // At 1200 per mille the step at position 1 is rint(1.2 × 11) = 13: 255 becomes
    // floor(255 / 13 + 0.35) = 19, five bits.
    EXPECT_DOUBLE_EQ(flenn_measurements_estimated_bits(m.record.get(), 15),
                     236.8 + 218.24 + 64 * 5);
}

// A 5120 × 5120 photo has 409,600 luma blocks: stride 4 on the slanted lattice (3r + c) mod 4 = 0,
// that is c ≡ r (mod 4), and a texture stride of 2 row pairs (rows ≡ 0, 1 mod 4). Textured blocks
// sit only on c ≡ r (mod 4) in rows ≡ 2, 3 (mod 4): half of the scanned luma blocks and none of
// the mapped ones. Their one value (deviation 1) is gone from 150 per mille on.
TEST(Measure, LargePhotosAreScannedOnStrideLattices) {
    CoefficientComponent grey;
    grey.table = flat(8);
    grey.fill = [](int row, int column, JCOEF *block) {
        if (column % 4 == row % 4 && row % 4 >= 2)
            block[63] = 1;
    };
    Measured m = measure(fixtures::coefficientJPEG(5120, 5120, {grey}));
    EXPECT_EQ(m.record->luma_factor, 4);
    EXPECT_EQ(m["sd_lt1"], 0.5);
    EXPECT_EQ(m["sd_lt2"], 1);
    EXPECT_EQ(m["lost_100"], 0.5);
    EXPECT_EQ(m["lost_150"], 1);
    EXPECT_DOUBLE_EQ(m["iso_tex_0.95"], ln1200);
    EXPECT_EQ(m["reg12_tex_min_220"], 1);
}

TEST(Measure, PhotosUpTo150000BlocksAreScannedWhole) {
    Measured small =
        measure(photo([](auto &o) { o.width = o.height = 1000, o.color = Color::grey; }));
    EXPECT_EQ(small.record->luma_factor, 1);
}

TEST(Measure, SizeEstimateFallsWithStrength) {
    Measured m = measure(photo([](auto &o) { o.width = 320, o.height = 240, o.quality = 95; }));
    for (int i = 1; i < 16; i++)
        EXPECT_LE(flenn_measurements_estimated_bits(m.record.get(), i),
                  flenn_measurements_estimated_bits(m.record.get(), i - 1))
            << i;
    EXPECT_LT(flenn_measurements_estimated_bits(m.record.get(), 15),
              flenn_measurements_estimated_bits(m.record.get(), 0));
}

TEST(Measure, AccessorsOutsideTheirRangeGiveNothing) {
    Measured m = measure(fixtures::jpeg());
    EXPECT_STREQ(flenn_measurements_name(m.record.get(), -1), "");
    EXPECT_STREQ(flenn_measurements_name(m.record.get(), 166), "");
    EXPECT_EQ(flenn_measurements_value(m.record.get(), 166), 0);
    EXPECT_EQ(flenn_measurements_estimated_bits(m.record.get(), 16), 0);
    EXPECT_EQ(flenn_grid_strength(-1), 0);
    EXPECT_EQ(flenn_grid_strength(15), 1200);
}

// ---- Iso values ----

struct IsoCase {
    const char *name;
    std::vector<double> curve;
    bool rising;
    double target;
    double expected;
};

class SolveCurve : public testing::TestWithParam<IsoCase> {};

TEST_P(SolveCurve, FindsTheLogStrengthOfTheTarget) {
    double y[16];
    flenn_grid_logs(y);
    const IsoCase &c = GetParam();
    EXPECT_NEAR(flenn_solve_curve(y, c.curve.data(), c.rising, c.target), c.expected, 1e-12);
}

std::vector<double> ramp(double from, double step) {
    std::vector<double> curve;
    for (int i = 0; i < 16; i++)
        curve.push_back(from + step * i);
    return curve;
}

INSTANTIATE_TEST_SUITE_P(
    Curves, SolveCurve,
    testing::Values(IsoCase{"risingAlreadyPastTheTarget", ramp(3, 1), true, 2, ln60},
                    IsoCase{"risingNeverReachingIt", ramp(0, 0.1), true, 2, ln1200},
                    IsoCase{"fallingAlreadyBelow", ramp(0.4, -0.01), false, 0.5, ln60},
                    IsoCase{"fallingNeverReachingIt", ramp(3, -0.1), false, 0.5, ln1200},
                    // Between steps 2 (100) and 3 (125), a quarter of the way.
                    IsoCase{"risingBetweenSteps", ramp(0, 1), true, 2.25,
                            std::log(100) + 0.25 * std::log(1.25)},
                    IsoCase{"fallingBetweenSteps", ramp(15, -1), false, 12.5,
                            std::log(100) + 0.5 * std::log(1.25)},
                    // A dip after a peak does not count: the curve is made non-decreasing first.
                    IsoCase{
                        "risingWithADip",
                        {0, 1, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 2},
                        true,
                        0.8,
                        std::log(60) + 0.8 * std::log(80.0 / 60)}),
    [](const testing::TestParamInfo<IsoCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace flenn
