// The scores of the metric's test cases: the reference program's scores for JPEG at many
// qualities, greyscale, PPM, odd and small sizes, blur, noise, a tiny patch and identical images.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "Checker.h"

namespace flenn::checker {
namespace {

struct Case {
    std::string original, distorted;
    double expected;
};
void PrintTo(const Case &c, std::ostream *out) {
    *out << c.original << " / " << c.distorted;
}

std::vector<Case> cases() {
    std::ifstream in(casesFolder() / "cases.tsv");
    std::vector<Case> all;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        Case c;
        fields >> c.original >> c.distorted >> c.expected;
        all.push_back(c);
    }
    return all;
}

class Cases : public testing::TestWithParam<Case> {};

TEST_P(Cases, ScoreMatchesTheReferenceProgram) {
    const Case &c = GetParam();
    Outcome outcome = run(casesFolder() / c.original, casesFolder() / c.distorted);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    ASSERT_TRUE(outcome.score()) << outcome.out;
    EXPECT_NEAR(*outcome.score(), c.expected, 0.001);
    // One line, eight decimals.
    char printed[64];
    std::snprintf(printed, sizeof printed, "%.8f\n", *outcome.score());
    EXPECT_EQ(outcome.out, printed);
}

INSTANTIATE_TEST_SUITE_P(Ssimulacra2, Cases, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case> &info) {
                             std::string name = info.param.original + "_" + info.param.distorted;
                             for (char &c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

// Without the file the suite above would be empty, not failing.
TEST(CasesFile, IsRead) {
    EXPECT_FALSE(cases().empty());
}

} // namespace
} // namespace flenn::checker
