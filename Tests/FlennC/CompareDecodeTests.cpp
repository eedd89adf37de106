#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "EngineSupport.h"
#include "Fixtures.h"

namespace flenn {
namespace {

using fixtures::Color;

TEST(Compare, ASessionWithItselfDiffersNowhere) {
    engine::Opened opened = engine::open(fixtures::jpeg({.width = 40, .height = 24}));
    flenn_comparison c{};
    ASSERT_EQ(flenn_session_compare(opened.session.get(), opened.session.get(), &c), 0);
    EXPECT_EQ(c.luma_ac, 63.0 * 5 * 3); // 40 × 24 pixels: 5 × 3 luma blocks
    EXPECT_EQ(c.luma_ac_differing + c.chroma_differing + c.dc_differing, 0);
    EXPECT_GT(c.luma_ac_nonzero, 0);
    EXPECT_EQ(c.luma_ac_nonzero, c.luma_ac_nonzero_other);
}

TEST(Compare, CountsDifferencesPerKind) {
    engine::Opened fine = engine::open(fixtures::jpeg({.width = 64, .height = 64, .quality = 95}));
    flenn_settings settings = engine::losslessSettings();
    settings.luma = settings.chroma = 400;
    engine::Written coarse = engine::write(fine.session.get(), settings);
    ASSERT_EQ(coarse.status, FLENN_OK);
    engine::Opened other = engine::open(coarse.data);
    flenn_comparison c{};
    ASSERT_EQ(flenn_session_compare(fine.session.get(), other.session.get(), &c), 0);
    EXPECT_GT(c.luma_ac_differing, 0);
    EXPECT_GT(c.chroma_differing, 0);
    EXPECT_GT(c.dc_differing, 0);
    EXPECT_LT(c.luma_ac_nonzero_other, c.luma_ac_nonzero);
}

TEST(Compare, RefusesAnotherGeometry) {
    engine::Opened a = engine::open(fixtures::jpeg({.width = 64, .height = 64}));
    engine::Opened b = engine::open(fixtures::jpeg({.width = 64, .height = 48}));
    engine::Opened grey = engine::open(fixtures::jpeg({.width = 64, .height = 64, .color = Color::grey}));
    flenn_comparison c{};
    c.luma_ac = 5;
    EXPECT_EQ(flenn_session_compare(a.session.get(), b.session.get(), &c), 1);
    EXPECT_EQ(c.luma_ac, 0) << "the record is zeroed";
    EXPECT_EQ(flenn_session_compare(a.session.get(), grey.session.get(), &c), 1);
}

std::string contents(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Decoded {
    int status;
    std::string message;
    std::string output;
};

Decoded decodeFile(const fixtures::TemporaryFolder &folder, const Bytes &jpeg) {
    fixtures::writeFile(folder / "in.jpg", jpeg);
    std::array<char, 256> message{};
    int status = flenn_decode_pnm((folder / "in.jpg").c_str(), (folder / "out.pnm").c_str(),
                                  message.data(), message.size());
    return {status, message.data(), contents(folder / "out.pnm")};
}

TEST(DecodePNM, WritesGreyAsP5AndColourAsP6) {
    fixtures::TemporaryFolder folder;
    Bytes grey = fixtures::jpeg({.width = 21, .height = 13, .color = Color::grey});
    Decoded g = decodeFile(folder, grey);
    ASSERT_EQ(g.status, 0) << g.message;
    std::string header = "P5\n21 13\n255\n";
    ASSERT_EQ(g.output.size(), header.size() + 21 * 13);
    EXPECT_EQ(g.output.substr(0, header.size()), header);
    EXPECT_EQ(std::vector<std::uint8_t>(g.output.begin() + header.size(), g.output.end()),
              fixtures::decode(grey).samples);

    Bytes colour = fixtures::jpeg({.width = 21, .height = 13});
    Decoded c = decodeFile(folder, colour);
    ASSERT_EQ(c.status, 0) << c.message;
    header = "P6\n21 13\n255\n";
    EXPECT_EQ(c.output.substr(0, header.size()), header);
    EXPECT_EQ(std::vector<std::uint8_t>(c.output.begin() + header.size(), c.output.end()),
              fixtures::decode(colour).samples);
}

TEST(DecodePNM, ReportsEveryFailureWithASentence) {
    fixtures::TemporaryFolder folder;
    Bytes photo = fixtures::jpeg({.width = 64, .height = 64});

    Decoded truncated = decodeFile(folder, photo.prefix(photo.size() * 2 / 3));
    EXPECT_EQ(truncated.status, 1);
    EXPECT_EQ(truncated.message, "This JPEG is damaged. Export it again from your editor or camera.");
    EXPECT_EQ(truncated.output.size(), std::string("P6\n64 64\n255\n").size() + 64 * 64 * 3)
        << "every row is still written";

    Decoded cmyk = decodeFile(folder, fixtures::jpeg({.color = Color::cmyk, .hSampling = 1, .vSampling = 1}));
    EXPECT_EQ(cmyk.status, 1);
    EXPECT_EQ(cmyk.message, "Unsupported color conversion request");

    Decoded text = decodeFile(folder, Bytes::copying("not a picture"));
    EXPECT_EQ(text.status, 1);
    EXPECT_EQ(text.message.rfind("Not a JPEG file", 0), 0u) << text.message;

    std::array<char, 256> message{};
    EXPECT_EQ(flenn_decode_pnm((folder / "missing.jpg").c_str(), (folder / "o.pnm").c_str(),
                               message.data(), message.size()), 1);
    EXPECT_STREQ(message.data(), "Could not open the file");
    fixtures::writeFile(folder / "in.jpg", photo);
    EXPECT_EQ(flenn_decode_pnm((folder / "in.jpg").c_str(), (folder / "no/such/o.pnm").c_str(),
                               message.data(), message.size()), 1);
    EXPECT_STREQ(message.data(), "Could not create the output file");
}

} // namespace
} // namespace flenn
