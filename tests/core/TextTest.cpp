#include "base/Text.h"
#include "codex/TextSearch.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(Utf8, StrictValidation) {
    EXPECT_TRUE(Text::isValidUtf8(""));
    EXPECT_TRUE(Text::isValidUtf8("ascii"));
    EXPECT_TRUE(Text::isValidUtf8("週·全 😀"));
    for (const char* bad : {"\xff", "\xc3", "\xc3\x28", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",
                            "\xf4\x90\x80\x80", "\xf8\x88\x80\x80\x80", "a\x80"})
        EXPECT_FALSE(Text::isValidUtf8(bad)) << bad;
}

TEST(Utf16Width, PadsAndCutsByUtf16CodeUnits) {
    EXPECT_EQ(Text::padOrCutUtf16("five_hour", 12), "five_hour   ");
    EXPECT_EQ(Text::padOrCutUtf16("seven_day_scoped:Claude Opus", 24), "seven_day_scoped:Claude ");
    EXPECT_EQ(Text::padOrCutUtf16("週・Opus", 8), "週・Opus  ");
    // A character outside the BMP counts two; one that does not fit whole becomes a space.
    EXPECT_EQ(Text::padOrCutUtf16("ab😀", 4), "ab😀");
    EXPECT_EQ(Text::padOrCutUtf16("abc😀", 4), "abc ");
    EXPECT_EQ(Text::padOrCutUtf16("", 3), "   ");
}

TEST(TextSearch, AgreesWithThePlainSearchEverywhere) {
    std::mt19937 rng(3);
    const std::string needle = "rate_limits";
    for (int round = 0; round < 2000; ++round) {
        std::string hay(rng() % 300, 'x');
        for (auto& c : hay)
            c = "rate_lims\n\" "[rng() % 13];
        if (rng() % 2 && !hay.empty())
            hay.replace(rng() % hay.size(), 0, needle);
        if (rng() % 4 == 0)
            hay += needle;
        for (auto [a, b] : {std::pair<std::size_t, std::size_t>{4, 5}, {0, 10}, {10, 0}, {3, 3}})
            ASSERT_EQ(TextSearch::find(hay, needle, a, b), hay.find(needle)) << hay;
    }
    EXPECT_EQ(TextSearch::find("", needle, 4, 5), std::string::npos);
    EXPECT_EQ(TextSearch::find("rate_limit", needle, 4, 5), std::string::npos);
    EXPECT_EQ(TextSearch::find("xx", "x", 0, 0), 0u);
    EXPECT_EQ(TextSearch::find("abc", needle, 40, 50), std::string::npos);
}

} // namespace
