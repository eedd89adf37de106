#include <gtest/gtest.h>

#include <unicode/locid.h>

#include "Text.h"

namespace flenn {
namespace {

// Runs a check under another default locale and puts the previous one back.
template <typename Check> void inLocale(const char *name, Check check) {
    icu::Locale previous = icu::Locale::getDefault();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale(name), status);
    check();
    icu::Locale::setDefault(previous, status);
}

TEST(Text, GroupsDigitsInTheUsersLocale) {
    inLocale("de_DE", [] { EXPECT_EQ(Text::groupedInteger(1234567), "1.234.567"); });
    // The C locale expresses no preference; numbers still read as 1,234,567.
    inLocale("en_US_POSIX", [] {
        EXPECT_EQ(Text::groupedInteger(1234567), "1,234,567");
        EXPECT_EQ(Text::groupedInteger(999), "999");
        EXPECT_EQ(Text::plainNumber(120), "120");
    });
}

TEST(Text, RepairsInvalidUTF8) {
    EXPECT_EQ(Text::repairedUTF8("ok"), "ok");
    EXPECT_EQ(Text::repairedUTF8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
}

TEST(Text, FoldsCaseAndComposition) {
    EXPECT_EQ(Text::folded("Caf\u00C9.JPG"), Text::folded("cafe\u0301.jpg"));
    EXPECT_NE(Text::folded("a.jpg"), Text::folded("b.jpg"));
}

} // namespace
} // namespace flenn
