#include <gtest/gtest.h>

#include <csetjmp>

#include <jpeglib.h>
#include <jerror.h>

#include "huffman.h"

namespace flenn {
namespace {

// A compressor whose memory pools hold a statistics record.
struct Counting : testing::Test {
    jpeg_compress_struct compressor{};
    jpeg_error_mgr errors{};
    flenn_statistics *stats = nullptr;

    void SetUp() override {
        compressor.err = jpeg_std_error(&errors);
        jpeg_create_compress(&compressor);
        stats = flenn_statistics_create(&compressor);
    }
    void TearDown() override { jpeg_destroy_compress(&compressor); }

    void count(const JBLOCK &block) { flenn_statistics_count_ac(stats, 0, &block, 1); }
};

TEST_F(Counting, EndOfBlockOnlyWhenTheLastValueIsNotAtTheEnd) {
    JBLOCK block = {0};
    block[63] = 1; // zigzag 63 is natural 63
    count(block);
    EXPECT_EQ(stats->ac[0][0x00], 0u);
    EXPECT_EQ(stats->ac[0][0xF0], 3u); // 62 zeros before it: three runs of 16, then 14
    EXPECT_EQ(stats->ac[0][(14 << 4) + 1], 1u);
}

TEST_F(Counting, LongRunsCountZeroRunSymbols) {
    JBLOCK block = {0};
    block[0] = 99;     // the DC is not an AC symbol
    block[48] = -9;    // zigzag 21, after 20 zeros: one run of 16, then run 4 with size 4
    count(block);
    EXPECT_EQ(stats->ac[0][0xF0], 1u);
    EXPECT_EQ(stats->ac[0][(4 << 4) + 4], 1u);
    EXPECT_EQ(stats->ac[0][0x00], 1u);
}

TEST_F(Counting, EmptyBlockCountsOneEndOfBlock) {
    JBLOCK block = {0};
    count(block);
    int total = 0;
    for (int symbol = 0; symbol < 256; symbol++)
        total += int(stats->ac[0][symbol]);
    EXPECT_EQ(total, 1);
    EXPECT_EQ(stats->ac[0][0x00], 1u);
}

TEST_F(Counting, ValuesBeyondBaselineRangeOverflow) {
    JBLOCK block = {0};
    block[1] = 1023;
    count(block);
    EXPECT_EQ(stats->overflow, 0);
    EXPECT_EQ(stats->ac[0][10], 1u);
    block[1] = -1024;
    count(block);
    EXPECT_EQ(stats->overflow, 1);
}

jmp_buf *fatalJump = nullptr;
void jumpOut(j_common_ptr) { longjmp(*fatalJump, 1); }

TEST_F(Counting, FinishingAfterAnOverflowRaisesTheCoefficientRangeError) {
    JBLOCK block = {0};
    block[2] = 2000;
    count(block);
    errors.error_exit = jumpOut;
    jmp_buf jump;
    fatalJump = &jump;
    if (setjmp(jump) == 0) {
        flenn_statistics_finish(stats, &compressor, nullptr);
        FAIL() << "finishing went on despite the overflow";
    }
    EXPECT_EQ(errors.msg_code, JERR_BAD_DCT_COEF);
}

} // namespace
} // namespace flenn
