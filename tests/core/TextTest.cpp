#include "base/Text.h"
#include "base/Language.h"
#include "codex/TextSearch.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

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

// Lines from the line feeds before the offset, columns in characters since the last of them.
TEST(LineColumn, CountsAsAnEditorDoes) {
    using LC = Text::LineColumn;
    EXPECT_EQ(Text::lineColumn("", 0), (LC{1, 1}));
    EXPECT_EQ(Text::lineColumn("abc", 2), (LC{1, 3}));
    EXPECT_EQ(Text::lineColumn("ab\ncd", 2), (LC{1, 3})) << "the line feed itself ends line 1";
    EXPECT_EQ(Text::lineColumn("ab\ncd", 3), (LC{2, 1}));
    EXPECT_EQ(Text::lineColumn("a\n\n\nb", 4), (LC{4, 1}));
    EXPECT_EQ(Text::lineColumn("x\r\nyz", 4), (LC{2, 2}));
    EXPECT_EQ(Text::lineColumn("週·é!", 7), (LC{1, 4})) << "three characters of 3, 2 and 2 bytes";
    EXPECT_EQ(Text::lineColumn("ab\nc", 99), (LC{2, 2})) << "past the end: after the last character";
}

// Arguments go where the translated pattern puts them, in any order and more than once.
TEST(Fill, PlacesArgumentsByNumber) {
    EXPECT_EQ(Text::fill("%1 に %2", {"a", "b"}), "a に b");
    EXPECT_EQ(Text::fill("%2 before %1, %1 again", {"a", "b"}), "b before a, a again");
    EXPECT_EQ(Text::fill("100%% of %1; %3 stays; 50%", {"x"}), "100% of x; %3 stays; 50%");
    EXPECT_EQ(Text::fill("%1", {"%2"}), "%2") << "an argument is not read again";
}

// Japanese for "ja" and for no language at all; English for "en" and for any other language. The
// first variable set decides (LANGUAGE's first entry, then LC_ALL, LC_MESSAGES, LANG); the
// setting overrides the locale.
TEST(Language, FromTheLocaleAndTheSetting) {
    using Language::Lang;
    using Env = std::map<std::string, std::string>;
    const auto lang = [](Env env, Language::Setting setting = Language::Setting::automatic) {
        return Language::choose(setting, [&env](const char* name) -> const char* {
            const auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        });
    };
    EXPECT_EQ(lang({}), Lang::japanese);
    for (const char* none : {"C", "POSIX", "C.UTF-8", ""})
        EXPECT_EQ(lang({{"LANG", none}}), Lang::japanese) << none;
    EXPECT_EQ(lang({{"LANG", "ja_JP.UTF-8"}}), Lang::japanese);
    EXPECT_EQ(lang({{"LANG", "en_US.UTF-8"}}), Lang::english);
    EXPECT_EQ(lang({{"LANG", "de_DE.UTF-8"}}), Lang::english);
    EXPECT_EQ(lang({{"LANG", "en_GB.UTF-8"}, {"LC_MESSAGES", "ja_JP.UTF-8"}}), Lang::japanese);
    EXPECT_EQ(lang({{"LC_MESSAGES", "ja_JP.UTF-8"}, {"LC_ALL", "fr_FR.UTF-8"}}), Lang::english);
    EXPECT_EQ(lang({{"LC_ALL", "C"}, {"LANGUAGE", "en_GB:ja"}}), Lang::english);
    EXPECT_EQ(lang({{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "ja:en"}}), Lang::japanese);
    EXPECT_EQ(lang({{"LANG", "C"}, {"LANGUAGE", ""}}), Lang::japanese) << "an empty variable is not set";

    EXPECT_EQ(lang({{"LANG", "ja_JP.UTF-8"}}, Language::Setting::english), Lang::english);
    EXPECT_EQ(lang({{"LANG", "en_US.UTF-8"}}, Language::Setting::japanese), Lang::japanese);
    EXPECT_EQ(lang({}, Language::Setting::english), Lang::english);
}

// The catalogue msgfmt compiled is read whatever locales the machine has; a damaged one leaves
// the texts in Japanese.
TEST(Language, TheCatalogueAndADamagedOne) {
    Language::use(Language::Lang::english, ULMET_BUILD_DIR "/locale");
    EXPECT_STREQ(TR("未取得"), "not read yet");
    EXPECT_STREQ(TR("a text no catalogue has"), "a text no catalogue has");

    testsupport::TempDir dir;
    const std::string good = *testsupport::readFile(ULMET_BUILD_DIR "/locale/en/LC_MESSAGES/ulmet.mo");
    for (const std::string& bad : {std::string("not a catalogue at all, but long enough"), good.substr(0, 40),
                                   good.substr(0, good.size() - 3), std::string(28, '\xde')}) {
        testsupport::writeFile(dir / "en/LC_MESSAGES/ulmet.mo", bad);
        Language::use(Language::Lang::english, dir.path());
        EXPECT_STREQ(TR("未取得"), "未取得");
        std::filesystem::remove(dir / "en/LC_MESSAGES/ulmet.mo");
    }
    Language::use(Language::Lang::japanese, {});
    EXPECT_STREQ(TR("未取得"), "未取得");
}

} // namespace
