#include "claude/ClaudeAppState.h"
#include "claude/JsonTopLevel.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <random>
#include <utility>

namespace fs = std::filesystem;
using nlohmann::json;
using testsupport::fileMode;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const char* kState = R"({
  "numStartups": 214,
  "oauthAccount": {"accountUuid": "a1", "emailAddress": "old@example.com", "displayName": "Old"},
  "userID": "3c5d9e0a7b1f",
  "big": 9223372036854775807,
  "bigger": 18446744073709551615,
  "negative": -9223372036854775808,
  "float": 0.1,
  "tiny": 5e-324,
  "exp": 1.7976931348623157e308,
  "text": "caf\u00e9 \ud83d\ude00 \"quoted\" \\ \/ \n\t",
  "raw": "日本語",
  "nested": {"a": [1, 2.5, {"b": null}], "c": true, "d": false, "e": []},
  "projects": {"/home/dev/app": {"allowedTools": [], "history": [{"display": "x"}]}}
})";

class ClaudeAppStateTest : public testing::Test {
protected:
    TempDir home;
    fs::path state = home / ".claude.json";
    fs::path backup = home / ".claude.json.meterkeeper-bak";
};

TEST_F(ClaudeAppStateTest, ReadsTheTwoIdentityMembersAndTheEmail) {
    writeFile(state, kState);
    const auto identity = ClaudeAppState::readIdentity(home.path());
    ASSERT_TRUE(identity);
    EXPECT_EQ(
        *identity,
        R"({"oauthAccount":{"accountUuid":"a1","displayName":"Old","emailAddress":"old@example.com"},"userID":"3c5d9e0a7b1f"})");
    EXPECT_EQ(ClaudeAppState::readEmail(home.path()), "old@example.com");
}

TEST_F(ClaudeAppStateTest, PartialAndMissingIdentity) {
    writeFile(state, R"({"userID": "u", "x": 1})");
    EXPECT_EQ(ClaudeAppState::readIdentity(home.path()), R"({"userID":"u"})");
    EXPECT_FALSE(ClaudeAppState::readEmail(home.path()));
    writeFile(state, R"({"oauthAccount": "just text"})");
    EXPECT_EQ(ClaudeAppState::readIdentity(home.path()), R"({"oauthAccount":"just text"})");
    EXPECT_FALSE(ClaudeAppState::readEmail(home.path()));
    writeFile(state, R"({"oauthAccount": {"emailAddress": 5}})");
    EXPECT_FALSE(ClaudeAppState::readEmail(home.path()));
    writeFile(state, R"({"other": 1})");
    EXPECT_FALSE(ClaudeAppState::readIdentity(home.path()));
    for (const char* bad : {"", "[]", "{\"userID\": \"u\"", "{\"userID\": \"u\"} x", "{\"userID\": tru}",
                            "{\"a\": 1e400, \"userID\": \"u\"}"}) {
        writeFile(state, bad);
        EXPECT_FALSE(ClaudeAppState::readIdentity(home.path())) << bad;
        EXPECT_FALSE(ClaudeAppState::readEmail(home.path())) << bad;
    }
    fs::remove(state);
    EXPECT_FALSE(ClaudeAppState::readIdentity(home.path()));
}

TEST_F(ClaudeAppStateTest, EscapedMemberNamesAndTheLastOfRepeatedMembers) {
    writeFile(state,
              R"({"user\u0049D": "first", "oauthAccount": {"emailAddress": "a@x"}, "userID": "second"})");
    EXPECT_EQ(ClaudeAppState::readIdentity(home.path()),
              R"({"oauthAccount":{"emailAddress":"a@x"},"userID":"second"})");
}

TEST_F(ClaudeAppStateTest, WriteIdentityKeepsEveryForeignMemberWithItsValue) {
    writeFile(state, kState);
    fs::permissions(state, fs::perms(0600));
    const std::string original = *readFile(state);
    ClaudeAppState::writeIdentity(home.path(),
                                  R"({"oauthAccount":{"emailAddress":"new@example.com"},"userID":"new-id"})");

    const json before = json::parse(original);
    const json after = json::parse(*readFile(state));
    EXPECT_EQ(after["oauthAccount"], json::parse(R"({"emailAddress":"new@example.com"})"));
    EXPECT_EQ(after["userID"], "new-id");
    for (const auto& [key, value] : before.items()) {
        if (key == "oauthAccount" || key == "userID")
            continue;
        EXPECT_EQ(after[key], value) << key;
    }
    EXPECT_EQ(after.size(), before.size());
    EXPECT_TRUE(after["big"].is_number_integer());
    EXPECT_EQ(after["big"].get<std::int64_t>(), INT64_MAX);
    EXPECT_EQ(after["bigger"].get<std::uint64_t>(), UINT64_MAX);
    EXPECT_EQ(after["negative"].get<std::int64_t>(), INT64_MIN);
    EXPECT_EQ(after["float"].get<double>(), 0.1);
    EXPECT_EQ(after["tiny"].get<double>(), 5e-324);
    EXPECT_EQ(after["exp"].get<double>(), 1.7976931348623157e308);
    EXPECT_EQ(after["text"], "café 😀 \"quoted\" \\ / \n\t");

    // Sorted, indented, and the file keeps its permission bits.
    const std::string text = *readFile(state);
    EXPECT_LT(text.find("\"big\""), text.find("\"numStartups\""));
    EXPECT_NE(text.find("\n  \"userID\": \"new-id\""), std::string::npos);
    EXPECT_EQ(fileMode(state), 0600u);
    EXPECT_EQ(readFile(backup), original);
    EXPECT_EQ(fileMode(backup), 0600u);
}

TEST_F(ClaudeAppStateTest, AnIdentityWithOnlyOneMemberLeavesTheOther) {
    writeFile(state, kState);
    ClaudeAppState::writeIdentity(home.path(), R"({"oauthAccount":{"emailAddress":"n@x"}})");
    const json after = json::parse(*readFile(state));
    EXPECT_EQ(after["userID"], "3c5d9e0a7b1f");
    EXPECT_EQ(ClaudeAppState::readEmail(home.path()), "n@x");
}

TEST_F(ClaudeAppStateTest, AStateFileRewrittenByClaudeMeanwhileKeepsClaudesChange) {
    writeFile(state, kState);
    bool rewritten = false;
    ClaudeAppState::writeIdentity(home.path(), R"({"userID":"mine"})", [&] {
        if (std::exchange(rewritten, true))
            return;
        json changed = json::parse(kState);
        changed["numStartups"] = 99; // claude's own write, between our read and our write
        writeFile(state, changed.dump());
    });
    const json after = json::parse(*readFile(state));
    EXPECT_EQ(after["numStartups"], 99);
    EXPECT_EQ(after["userID"], "mine");
}

TEST_F(ClaudeAppStateTest, TheBackupHoldsTheStateBeforeTheLatestWrite) {
    writeFile(state, kState);
    fs::permissions(state, fs::perms(0644));
    ClaudeAppState::writeIdentity(home.path(), R"({"userID":"one"})");
    const std::string afterFirst = *readFile(state);
    ClaudeAppState::writeIdentity(home.path(), R"({"userID":"two"})");
    EXPECT_EQ(readFile(backup), afterFirst);
    EXPECT_EQ(fileMode(state), 0644u);
}

TEST_F(ClaudeAppStateTest, WriteIdentityFailuresLeaveTheFileAlone) {
    writeFile(state, kState);
    auto fails = [&](std::string_view identity) {
        try {
            ClaudeAppState::writeIdentity(home.path(), identity);
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        return std::string("<no error>");
    };
    EXPECT_EQ(fails("[1]"), "identity が不正です");
    EXPECT_EQ(fails("not json"), "identity が不正です");
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_EQ(readFile(state), kState);

    writeFile(state, "[1, 2]");
    EXPECT_EQ(fails(R"({"userID":"x"})"), "~/.claude.json を解析できません");
    EXPECT_FALSE(fs::exists(backup));

    writeFile(state, "{\"primaryApiKey\": \"sk-secret-key\", broken");
    const std::string text = fails(R"({"userID":"x"})");
    EXPECT_NE(text.find("JSON"), std::string::npos) << text;
    EXPECT_EQ(text.find("sk-secret-key"), std::string::npos) << "no excerpt of the file in the message";
    EXPECT_FALSE(fs::exists(backup));

    fs::remove(state);
    EXPECT_THROW(ClaudeAppState::writeIdentity(home.path(), R"({"userID":"x"})"), FileError);
}

TEST_F(ClaudeAppStateTest, ANulByteMakesTheFileUnreadableInsteadOfCuttingItShort) {
    // Found by fuzzing: the JSON library stops at a NUL as if the text ended there, so a file with
    // a NUL after its object would have been rewritten without whatever followed.
    const std::string text = std::string(R"({"userID":"a"})") + '\0' + R"(,"more":"data"})";
    writeFile(state, text);
    EXPECT_FALSE(ClaudeAppState::readIdentity(home.path()));
    EXPECT_THROW(ClaudeAppState::writeIdentity(home.path(), R"({"userID":"b"})"), ClaudeAppState::StateError);
    EXPECT_EQ(readFile(state), text);
    EXPECT_FALSE(JsonTopLevel::scan(std::string("21") + '\0', {}));
}

TEST_F(ClaudeAppStateTest, ALinkedStateFileStaysALink) {
    writeFile(home / "sync/claude.json", R"({"userID":"a"})");
    fs::create_symlink(home / "sync/claude.json", state);
    ClaudeAppState::writeIdentity(home.path(), R"({"userID":"b"})");
    EXPECT_TRUE(fs::is_symlink(state));
    EXPECT_EQ(json::parse(*readFile(home / "sync/claude.json"))["userID"], "b");
}

// ---- The streaming scanner agrees with the full parser --------------------------------------

bool fullParserAccepts(const std::string& text) {
    try {
        const json parsed = json::parse(text);
        return !parsed.is_discarded();
    } catch (const json::exception&) {
        return false;
    }
}

TEST(JsonTopLevel, AcceptsExactlyWhatTheFullParserAccepts) {
    const std::vector<std::string> cases = {"{}",
                                            "[]",
                                            "0",
                                            "-0",
                                            "-",
                                            "01",
                                            "1.",
                                            ".5",
                                            "1e",
                                            "1e+",
                                            "1E-5",
                                            "-1.5e10",
                                            "1e400",
                                            "-1e400",
                                            "1e-400",
                                            "123456789012345678901234567890",
                                            "\"\\u0041\"",
                                            "\"\\ud83d\\ude00\"",
                                            "\"\\ud83d\"",
                                            "\"\\ude00\"",
                                            "\"\\ud83d\\u0041\"",
                                            "\"\\x\"",
                                            "\"\t\"",
                                            "\"\xc3\xa9\"",
                                            "\"\xc3\"",
                                            "\"\xe0\x80\x80\"",
                                            "\"\xed\xa0\x80\"",
                                            "\"\xf4\x90\x80\x80\"",
                                            "\"\xff\"",
                                            "true",
                                            "tru",
                                            "nul",
                                            "null x",
                                            " {\"a\":1} ",
                                            "{\"a\":1,}",
                                            "{,}",
                                            "[1,]",
                                            "[,1]",
                                            "{\"a\" 1}",
                                            "{\"a\":}",
                                            "{1:2}",
                                            "[[[]]]",
                                            "[[[]]",
                                            "{\"a\":{\"b\":[{}]}}",
                                            "\xef\xbb\xbf{}",
                                            "\xef\xbb{}",
                                            "",
                                            " ",
                                            "{\"a\":\"b\"}{}",
                                            "[\"\\u00e9\", 1.0, -2, true, false, null, {\"x\": []}]",
                                            "{\"userID\": \"a\", \"userID\": \"b\"}",
                                            "1 2",
                                            "\"abc",
                                            "{\"a\":1e5000}",
                                            "{\"a\":0.0000e99999}",
                                            "{\"a\":100000000000000000000000e-30}",
                                            "{\"a\":1e308}",
                                            "{\"a\":1e309}",
                                            "{\"a\":0.1e310}"};
    for (const auto& text : cases) {
        EXPECT_EQ(JsonTopLevel::scan(text, {}).has_value(), fullParserAccepts(text)) << text;
    }
}

TEST(JsonTopLevel, RandomMutationsOfARealDocumentAgreeWithTheFullParser) {
    const std::string base = kState;
    std::mt19937 rng(42);
    const char alphabet[] = "{}[]\",:\\/0123456789.eE+-tfnul \n\xc3\xa9\x80\xff";
    int accepted = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string text = base;
        const int edits = 1 + static_cast<int>(rng() % 3);
        for (int e = 0; e < edits; ++e) {
            const std::size_t pos = rng() % text.size();
            switch (rng() % 3) {
            case 0:
                text[pos] = alphabet[rng() % (sizeof alphabet - 1)];
                break;
            case 1:
                text.erase(pos, 1 + rng() % 4);
                break;
            default:
                text.insert(pos, 1, alphabet[rng() % (sizeof alphabet - 1)]);
            }
        }
        const bool full = fullParserAccepts(text);
        accepted += full;
        const auto scanned = JsonTopLevel::scan(text, {"oauthAccount", "userID"});
        ASSERT_EQ(scanned.has_value(), full) << text;
        if (!full)
            continue;
        const json doc = json::parse(text);
        for (const char* key : {"oauthAccount", "userID"}) {
            const auto it = scanned->members.find(key);
            if (!doc.is_object() || !doc.contains(key)) {
                EXPECT_EQ(it, scanned->members.end());
                continue;
            }
            ASSERT_NE(it, scanned->members.end()) << text;
            EXPECT_EQ(json::parse(it->second), doc[key]) << text;
        }
    }
    EXPECT_GT(accepted, 100);
}

TEST(JsonTopLevel, StreamsFilesAcrossBufferBoundaries) {
    TempDir tmp;
    // Members and strings that straddle the 256 KiB read buffer.
    std::string text = "{\"pad\": \"" + std::string(256 * 1024 - 14, 'x') + "\", \"userID\": \"" +
                       std::string(300 * 1024, 'y') +
                       "\xc3\xa9\\u00e9\", \"oauthAccount\": {\"emailAddress\": \"e@x\", \"n\": [" +
                       std::string(100000, ' ') + "1.5e3]}}";
    writeFile(tmp / "state.json", text);
    const auto scanned = JsonTopLevel::scanFile(tmp / "state.json", {"userID", "oauthAccount"});
    ASSERT_TRUE(scanned);
    const json doc = json::parse(text);
    EXPECT_EQ(json::parse(scanned->members.at("userID")), doc["userID"]);
    EXPECT_EQ(json::parse(scanned->members.at("oauthAccount")), doc["oauthAccount"]);
    // Cut anywhere, the document is invalid.
    for (std::size_t cut : {std::size_t(1), text.size() / 2, text.size() - 1}) {
        writeFile(tmp / "cut.json", text.substr(0, cut));
        EXPECT_FALSE(JsonTopLevel::scanFile(tmp / "cut.json", {"userID"})) << cut;
    }
    EXPECT_FALSE(JsonTopLevel::scanFile(tmp.path(), {"userID"})) << "a directory";
}

TEST(JsonTopLevel, DeepNestingNeedsNoRecursion) {
    const std::string deep =
        "{\"x\":" + std::string(1'000'000, '[') + std::string(1'000'000, ']') + ",\"userID\":1}";
    const auto scanned = JsonTopLevel::scan(deep, {"userID"});
    ASSERT_TRUE(scanned);
    EXPECT_EQ(scanned->members.at("userID"), "1");
}

} // namespace
