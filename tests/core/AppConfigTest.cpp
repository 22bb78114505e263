#include "config/AppConfig.h"
#include "base/Base64.h"
#include "base/Json.h"
#include "base/Uuid.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <set>

using nlohmann::json;

namespace {

const char* kUpper = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";

TEST(Uuid, ParsesEitherCaseAndWritesUpperCase) {
    const auto upper = Uuid::parse(kUpper);
    const auto lower = Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(upper && lower);
    EXPECT_EQ(*upper, *lower);
    EXPECT_EQ(lower->toString(), kUpper);
}

TEST(Uuid, RejectsAnythingButTheCanonicalForm) {
    for (const char* text : {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}",
                             "E621E1F8-C36C-495A-93FC-0C247A3E6E5", "E621E1F8-C36C-495A-93FC-0C247A3E6E5FF",
                             "E621E1F8-C36C-495A-93FC_0C247A3E6E5F", "G621E1F8-C36C-495A-93FC-0C247A3E6E5F",
                             "E621E1F-8C36C-495A-93FC-0C247A3E6E5F", " E621E1F8-C36C-495A-93FC-0C247A3E6E5"})
        EXPECT_FALSE(Uuid::parse(text)) << text;
}

TEST(Uuid, RandomIdsAreVersion4AndDistinct) {
    std::set<Uuid> seen;
    for (int i = 0; i < 1000; ++i) {
        const Uuid u = Uuid::random();
        EXPECT_EQ(u.toString()[14], '4');
        EXPECT_NE(std::string("89AB").find(u.toString()[19]), std::string::npos);
        seen.insert(u);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

TEST(Base64, RoundTripsEveryLengthAndRejectsMalformedText) {
    std::string bytes;
    for (int n = 0; n < 40; ++n) {
        EXPECT_EQ(Base64::decode(Base64::encode(bytes)), bytes);
        bytes.push_back(static_cast<char>(n * 37 + 200));
    }
    EXPECT_EQ(Base64::encode("{\"a\":1}"), "eyJhIjoxfQ==");
    for (const char* bad :
         {"eyJhIjoxfQ", "eyJhIjoxfQ=", "eyJh Ijox", "eyJ=IjoxfQ==", "====", "ey-_", "eyJhIjoxfQ==\n"})
        EXPECT_FALSE(Base64::decode(bad)) << bad;
}

TEST(AppConfigDecode, EmptyObjectGivesEveryDefault) {
    const auto config = AppConfig::decode("{}");
    ASSERT_TRUE(config);
    EXPECT_EQ(config->pollIntervalSec, 60);
    EXPECT_TRUE(config->profiles.empty());
    EXPECT_FALSE(config->activeProfileID);
    EXPECT_FALSE(config->keychainConnected);
    EXPECT_FALSE(config->autoReadLiveClaude);
    EXPECT_TRUE(config->menuSessionEnabled);
    EXPECT_EQ(config->menuSessionStyle, MenuBarStyle::batteryClassic);
    EXPECT_FALSE(config->menuSessionShowRemaining);
    EXPECT_FALSE(config->menuWeekEnabled);
    EXPECT_EQ(config->menuWeekStyle, MenuBarStyle::percentage);
    EXPECT_FALSE(config->autoSwitchEnabled);
    EXPECT_EQ(config->autoSwitchThreshold, 100);
    EXPECT_EQ(*config, AppConfig{});
}

TEST(AppConfigDecode, NullMembersTakeDefaultsAndFalseStaysFalse) {
    const auto config = AppConfig::decode(R"({"menuWeekStyle": null, "menuSessionEnabled": false,
        "pollIntervalSec": null, "profiles": null, "activeProfileID": null, "somethingNew": [1, 2]})");
    ASSERT_TRUE(config);
    EXPECT_EQ(config->menuWeekStyle, MenuBarStyle::percentage);
    EXPECT_FALSE(config->menuSessionEnabled);
    EXPECT_EQ(config->pollIntervalSec, 60);
    EXPECT_TRUE(config->profiles.empty());
}

TEST(AppConfigDecode, ProfileWithOnlyANameGetsDefaultsAndAFreshId) {
    const char* text = R"({"profiles": [{"name": "main"}]})";
    const auto a = AppConfig::decode(text);
    const auto b = AppConfig::decode(text);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->profiles.size(), 1u);
    const ProfileConfig& p = a->profiles[0];
    EXPECT_EQ(p.name, "main");
    EXPECT_EQ(p.configDir, "~/.claude");
    EXPECT_EQ(p.colorName, "orange");
    EXPECT_EQ(p.provider, Provider::claude);
    EXPECT_FALSE(p.keychainService || p.keychainAccount || p.accountEmail || p.accountIdentity);
    EXPECT_NE(a->profiles[0].id, b->profiles[0].id) << "a missing id is made anew on every read";
}

TEST(AppConfigDecode, ReadsEveryFieldAndBothUuidCases) {
    const auto config = AppConfig::decode(R"({
        "pollIntervalSec": 45.5, "activeProfileID": "e621e1f8-c36c-495a-93fc-0c247a3e6e5f",
        "keychainConnected": true, "autoReadLiveClaude": true, "menuSessionEnabled": true,
        "menuSessionStyle": "compact", "menuSessionShowRemaining": true, "menuWeekEnabled": true,
        "menuWeekStyle": "iconWithBar", "autoSwitchEnabled": true, "autoSwitchThreshold": 95,
        "profiles": [{"id": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "name": "work", "configDir": "~/.codex",
                      "keychainService": "svc", "keychainAccount": "acct", "colorName": "mint",
                      "accountEmail": "a@example.com", "provider": "codex", "accountIdentity": "eyJhIjoxfQ=="}]})");
    ASSERT_TRUE(config);
    EXPECT_EQ(config->pollIntervalSec, 45.5);
    EXPECT_EQ(config->activeProfileID, Uuid::parse(kUpper));
    EXPECT_EQ(config->menuSessionStyle, MenuBarStyle::compact);
    EXPECT_EQ(config->menuWeekStyle, MenuBarStyle::iconWithBar);
    EXPECT_EQ(config->autoSwitchThreshold, 95);
    const ProfileConfig& p = config->profiles.at(0);
    EXPECT_EQ(p.id, *Uuid::parse(kUpper));
    EXPECT_EQ(p.keychainService, "svc");
    EXPECT_EQ(p.keychainAccount, "acct");
    EXPECT_EQ(p.accountEmail, "a@example.com");
    EXPECT_EQ(p.provider, Provider::codex);
    EXPECT_EQ(p.accountIdentity, "{\"a\":1}");
}

// One bad member anywhere makes the whole document unusable.
class AppConfigRejects : public testing::TestWithParam<const char*> {};

TEST_P(AppConfigRejects, WholeDocument) {
    EXPECT_FALSE(AppConfig::decode(GetParam())) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(BadMembers, AppConfigRejects,
                         testing::Values(
                             // not a JSON object, or not JSON at all
                             "", "[]", "null", "42", "\"text\"", "{", "{}x", "{\"pollIntervalSec\": 60,}",
                             "\xff\xfe{}", "{\"profiles\": [{\"name\": \"\xc3\x28\"}]}",
                             // wrong JSON types
                             R"({"pollIntervalSec": "60"})", R"({"pollIntervalSec": true})",
                             R"({"keychainConnected": 1})", R"({"menuSessionEnabled": "false"})",
                             R"({"profiles": {}})", R"({"profiles": ["main"]})", R"({"activeProfileID": 5})",
                             R"({"menuWeekStyle": 0})",
                             // bad values
                             R"({"activeProfileID": "not-a-uuid"})", R"({"menuWeekStyle": "pie"})",
                             R"({"menuSessionStyle": "Compact"})",
                             // bad profiles (the others are fine)
                             R"({"profiles": [{"name": "a"}, {"configDir": "~/.claude"}]})",
                             R"({"profiles": [{"name": null}]})", R"({"profiles": [{"name": 7}]})",
                             R"({"profiles": [{"name": "a", "provider": "gemini"}]})",
                             R"({"profiles": [{"name": "a", "id": "E621E1F8-C36C-495A-93FC-0C247A3E6E5"}]})",
                             R"({"profiles": [{"name": "a", "accountIdentity": "not base64!"}]})",
                             R"({"profiles": [{"name": "a", "accountIdentity": 12}]})",
                             R"({"profiles": [{"name": "a", "colorName": ["orange"]}]})",
                             R"({"profiles": [{"name": "a", "keychainService": false}]})"));

TEST(AppConfigDecode, RefusesDeepNestingWithoutRecursing) {
    const std::string deep = "{\"x\":" + std::string(200000, '[') + std::string(200000, ']') + "}";
    EXPECT_FALSE(AppConfig::decode(deep));
    // Unknown members may nest as deep as real documents do.
    EXPECT_TRUE(AppConfig::decode("{\"x\":" + std::string(50, '[') + std::string(50, ']') + "}"));
}

AppConfig sampleConfig() {
    AppConfig config;
    config.pollIntervalSec = 90;
    config.autoSwitchThreshold = 97.5;
    config.keychainConnected = true;
    config.menuWeekEnabled = true;
    config.menuWeekStyle = MenuBarStyle::progressBar;
    ProfileConfig a;
    a.name = "main";
    a.accountEmail = "me@example.com";
    a.accountIdentity =
        std::string("{\"oauthAccount\":{\"emailAddress\":\"me@example.com\"}}") + '\0' + '\xff';
    ProfileConfig b;
    b.name = "仕事";
    b.configDir = "~/.codex";
    b.provider = Provider::codex;
    b.colorName = "teal";
    b.keychainService = "svc";
    config.profiles = {a, b};
    config.activeProfileID = b.id;
    return config;
}

TEST(AppConfigEncode, RoundTripsToAnEqualValue) {
    const AppConfig config = sampleConfig();
    const auto text = config.encode();
    ASSERT_TRUE(text);
    EXPECT_EQ(AppConfig::decode(*text), config);
}

TEST(AppConfigEncode, WritesSortedKeysWholeNumbersAsIntegersAndLeavesOutAbsentOptionals) {
    AppConfig config;
    ProfileConfig p;
    p.name = "main";
    config.profiles = {p};
    const auto text = config.encode();
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("\"pollIntervalSec\": 60,"), std::string::npos) << *text;
    EXPECT_NE(text->find("\"autoSwitchThreshold\": 100,"), std::string::npos) << *text;
    for (const char* absent :
         {"activeProfileID", "keychainService", "keychainAccount", "accountEmail", "accountIdentity"})
        EXPECT_EQ(text->find(absent), std::string::npos) << absent;
    // Sorted keys, one member per line.
    EXPECT_LT(text->find("\"autoReadLiveClaude\""), text->find("\"autoSwitchEnabled\""));
    EXPECT_LT(text->find("\"menuWeekStyle\""), text->find("\"pollIntervalSec\""));
    EXPECT_LT(text->find("\"colorName\""), text->find("\"configDir\""));
    EXPECT_EQ(text->back(), '\n');
    // The id is written upper-case.
    EXPECT_NE(text->find(p.id.toString()), std::string::npos);

    config.autoSwitchThreshold = 99.5;
    EXPECT_NE(config.encode()->find("\"autoSwitchThreshold\": 99.5,"), std::string::npos);
}

TEST(AppConfigEncode, RefusesNumbersJsonCannotHold) {
    AppConfig config;
    config.pollIntervalSec = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(config.encode());
    config.pollIntervalSec = 60;
    config.autoSwitchThreshold = std::nan("");
    EXPECT_FALSE(config.encode());
}

TEST(Enumerations, TextValuesDisplayNamesAndOrder) {
    ASSERT_EQ(allMenuBarStyles().size(), 5u);
    const char* names[] = {"バッテリー", "プログレスバー", "パーセント", "アイコン+バー", "コンパクト"};
    const char* values[] = {"batteryClassic", "progressBar", "percentage", "iconWithBar", "compact"};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(displayName(allMenuBarStyles()[i]), names[i]);
        EXPECT_EQ(toString(allMenuBarStyles()[i]), values[i]);
        EXPECT_EQ(menuBarStyleFromString(values[i]), allMenuBarStyles()[i]);
    }
    ASSERT_EQ(allProviders().size(), 2u);
    EXPECT_EQ(toString(allProviders()[0]), "claude");
    EXPECT_EQ(toString(allProviders()[1]), "codex");
}

TEST(ColorPalette, TenNamesInOrderAndAccentForAnythingElse) {
    const char* names[] = {"orange", "blue", "green",  "purple", "pink",
                           "teal",   "red",  "yellow", "indigo", "mint"};
    ASSERT_EQ(ColorPalette::all().size(), 10u);
    for (std::size_t i = 0; i < 10; ++i)
        EXPECT_EQ(ColorPalette::all()[i].name, names[i]);
    EXPECT_EQ(ColorPalette::color("mint"), ColorPalette::all()[9].color);
    EXPECT_NE(ColorPalette::color("orange"), ColorPalette::accent());
    EXPECT_EQ(ColorPalette::color("Orange"), ColorPalette::accent());
    EXPECT_EQ(ColorPalette::color(""), ColorPalette::accent());
    EXPECT_EQ(ColorPalette::hexText(ColorPalette::accent()), "#007aff");
    EXPECT_EQ(ColorPalette::hexText({0x0A, 0xF0, 0x00}), "#0af000");
}

} // namespace
