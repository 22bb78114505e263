#include "config/AppConfig.h"

#include "JsonSchema.h"
#include "TempDir.h"
#include "TestHttpServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <map>
#include <optional>

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::runProcess;
using testsupport::TempDir;
using testsupport::TestHttpServer;
using testsupport::writeFile;

namespace {

const std::string kData = ULMET_TEST_DATA;

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

class CheckCommand : public testing::Test {
protected:
    TempDir home;
    TestHttpServer server;
    fs::path configFile = home / ".local/share/ulmet/config.json";

    testsupport::ProcessResult run(std::vector<std::string> args,
                                   std::map<std::string, std::string> extraEnv = {},
                                   const std::string& stdinPath = "/dev/null") {
        args.insert(args.begin(), ULMET_BINARY);
        // No session bus and no display: the secret store is unavailable, as on a bare machine.
        std::map<std::string, std::string> env{{"HOME", home.path().string()},
                                               {"PATH", "/usr/bin:/bin"},
                                               {"ULMET_API_ORIGIN", server.origin()},
                                               {"ULMET_CONSOLE_ORIGIN", server.origin()}};
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
            if (const char* value = std::getenv(name))
                env[name] = value;
        for (auto& [k, v] : extraEnv)
            env[k] = v;
        return runProcess(args, env, stdinPath);
    }
};

TEST_F(CheckCommand, FirstRunDetectsProfilesAndListsThem) {
    fs::create_directories(home / ".claude");
    fs::create_directories(home / ".claude-work");
    fs::create_directories(home / "elsewhere");
    fs::create_directory_symlink(home / "elsewhere", home / ".claude-alt");
    writeFile(home / ".claude-notes", "");

    const auto result = run({"--check"}, {{"ULMET_NO_KEYCHAIN", "1"}});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::string missing = "  ERROR: 認証情報が見つかりません（" + home.path().string();
    const std::string rest = " が無く、ULMET_NO_KEYCHAIN=1 のためキーリングは参照しません）\n";
    EXPECT_EQ(result.out, "ulmet --check\n"
                          "config: " +
                              configFile.string() +
                              "\n"
                              "profiles: 3\n"
                              "history: none\n"
                              "\n"
                              "== main [Claude] (~/.claude) [active]\n" +
                              missing + "/.claude/.credentials.json" + rest +
                              "\n"
                              "== alt [Claude] (~/.claude-alt)\n" +
                              missing + "/.claude-alt/.credentials.json" + rest +
                              "\n"
                              "== work [Claude] (~/.claude-work)\n" +
                              missing + "/.claude-work/.credentials.json" + rest);
    const auto text = readFile(configFile);
    ASSERT_TRUE(text);
    const auto config = AppConfig::decode(*text);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->profiles.size(), 3u);
    EXPECT_EQ(config->encode(), text) << "the file decodes back to the same configuration";
    EXPECT_EQ(run({"--check"}, {{"ULMET_NO_KEYCHAIN", "1"}}).out, result.out);
    EXPECT_EQ(readFile(configFile), text);
}

// Without a display (a text console, SSH): help, version and a wrong option answer at once and
// never load the program module; a plain start says there is no display. Nothing aborts, and
// nothing but the check reads or writes the configuration.
TEST_F(CheckCommand, TheCommandLineWithoutADisplay) {
    const std::map<std::string, std::string> traced{{"LD_DEBUG", "files"}};
    auto loadsModule = [](const testsupport::ProcessResult& r) {
        // (modules are loaded from their opened file, which the loader names by descriptor)
        return r.err.find("ulmet-full.so") != std::string::npos ||
               r.err.find("/proc/self/fd/") != std::string::npos;
    };
    const auto help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option :
         {"--check", "--raw", "--switch PROFILE", "--refresh", "--json", "--waybar", "--watch",
          "--list-profiles", "--statusline", "--statusline-install DIR", "--help", "--version"})
        EXPECT_NE(help.out.find("\n  " + std::string(option) + " "), std::string::npos) << option << help.out;
    EXPECT_FALSE(loadsModule(run({"--help"}, traced)));

    const auto version = run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "ulmet 0.1.0\n");
    EXPECT_FALSE(loadsModule(run({"--version"}, traced)));

    for (const char* arg : {"--check=1", "-check", "--CHECK", "check", "--raw", "--bogus"}) {
        const auto result = run({arg});
        EXPECT_EQ(result.exitCode, 2) << arg;
        EXPECT_EQ(result.out, "") << arg;
        EXPECT_EQ(result.err.rfind("ulmet: unknown option " + std::string(arg) + "\nusage: ulmet ", 0), 0u)
            << result.err;
        EXPECT_FALSE(loadsModule(run({arg}, traced))) << arg;
    }
    EXPECT_EQ(run({"--help", "--version"}).exitCode, 2);

    const auto plain = run({});
    EXPECT_EQ(plain.exitCode, 1) << plain.err;
    EXPECT_EQ(std::count(plain.err.begin(), plain.err.end(), '\n'), 1) << plain.err;
    EXPECT_NE(plain.err.find("ulmet --check"), std::string::npos) << plain.err;
    // A display named but gone is no display either.
    EXPECT_EQ(run({}, {{"DISPLAY", ":97"},
                       {"WAYLAND_DISPLAY", "wayland-97"},
                       {"XDG_RUNTIME_DIR", home.path().string()}})
                  .exitCode,
              1);
    EXPECT_FALSE(fs::exists(configFile)) << "no configuration outside the check";
}

// A fresh machine where claude has never logged in: one line says what is missing and what to
// do, with no secret service at all and with an empty keyring (a case run on a private one).
TEST_F(CheckCommand, AFirstCheckWithoutAnyLoginSaysWhatToDo) {
    std::map<std::string, std::string> env;
    std::string missing = "キーリングにも接続できません";
    if (std::getenv("ULMET_TEST_SECRET_SERVICE")) {
        env["DBUS_SESSION_BUS_ADDRESS"] = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        missing = "キーリングにも「Claude Code-credentials」がありません";
    }
    const auto result = run({"--check"}, env);
    EXPECT_EQ(result.exitCode, 0);
    const std::string expected = "\n== main [Claude] (~/.claude) [active]\n"
                                 "  ERROR: claude のログインが見つかりません（" +
                                 (home / ".claude/.credentials.json").string() + " が無く、" + missing +
                                 "）。claude を起動してログインしてください\n";
    EXPECT_TRUE(result.out.ends_with(expected)) << result.out;
}

// The setting overrides the locale, and a setting the program does not know follows it.
TEST_F(CheckCommand, TheLanguageSettingOverridesTheLocale) {
    const auto check = [&](const char* setting, const char* lang) {
        writeFile(configFile, std::string(R"({"language": ")") + setting +
                                  R"(", "profiles": [{"name": "main", "configDir": "~/.claude"}]})");
        const auto result = run({"--check"}, {{"ULMET_NO_KEYCHAIN", "1"}, {"LANG", lang}});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return result.out;
    };
    EXPECT_NE(check("en", "ja_JP.UTF-8").find("  ERROR: Credentials not found (No "), std::string::npos);
    EXPECT_NE(check("ja", "en_US.UTF-8").find("  ERROR: 認証情報が見つかりません（"), std::string::npos);
    EXPECT_NE(check("auto", "de_DE.UTF-8").find("  ERROR: Credentials not found (No "), std::string::npos);
    EXPECT_NE(check("klingon", "C").find("  ERROR: 認証情報が見つかりません（"), std::string::npos);
}

TEST_F(CheckCommand, NoProfilesPrintsThreeLines) {
    writeFile(configFile, R"({"profiles": []})");
    for (const auto& args :
         {std::vector<std::string>{"--check"}, {"--raw", "--check"}, {"--option", "--check"}}) {
        const auto result = run(args);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out,
                  "ulmet --check\nconfig: " + configFile.string() + "\nprofiles: 0\nhistory: none\n");
    }
}

// Every file below a directory with its content (none for a directory).
std::map<std::string, std::optional<std::string>> everything(const fs::path& root) {
    std::map<std::string, std::optional<std::string>> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        files[e.path().lexically_relative(root).string()] =
            e.is_regular_file() ? readFile(e.path()) : std::nullopt;
    return files;
}

// The check and the readings without a running program write nothing once a configuration
// exists: not over a broken one, not a copy of it, not a repaired one. The check says what is
// wrong and where.
TEST_F(CheckCommand, ABrokenConfigurationIsReportedAndNothingIsWritten) {
    AppConfig backup;
    ProfileConfig main;
    main.name = "from-backup";
    backup.profiles = {main};
    writeFile(configFile.string() + ".bak", *backup.encode());
    const std::string edited = "{\n  \"pollIntervalSec\": 30,,\n  \"profiles\": []\n}\n";
    writeFile(configFile, edited);
    writeFile(configFile.string() + ".corrupt", "an earlier mistake");
    const auto before = everything(configFile.parent_path());

    const auto result = run({"--check"}, {{"ULMET_NO_KEYCHAIN", "1"}});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(result.out.starts_with("ulmet --check\nconfig: " + configFile.string() +
                                       "\n  ERROR: " + configFile.string() +
                                       " の 2 行 25 列目に JSON の誤りがあります（バックアップの設定で確認し"
                                       "ます。ファイルは書き換えません）\nprofiles: 1\n"))
        << result.out;
    EXPECT_NE(result.out.find("== from-backup [Claude]"), std::string::npos) << result.out;
    EXPECT_EQ(everything(configFile.parent_path()), before);

    const auto english = run({"--check"}, {{"ULMET_NO_KEYCHAIN", "1"}, {"LANG", "en_US.UTF-8"}});
    EXPECT_NE(english.out.find("\n  ERROR: " + configFile.string() +
                               " has a JSON error at line 2, column 25 (checked with the backup's "
                               "configuration; the file is left as it is)\n"),
              std::string::npos)
        << english.out;
    EXPECT_EQ(run({"--json"}, {{"ULMET_NO_KEYCHAIN", "1"}}).exitCode, 0);
    EXPECT_EQ(everything(configFile.parent_path()), before);

    // Damage of another kind, and no backup: the defaults are checked.
    const std::string damaged("\x00\x01garbage", 9);
    writeFile(configFile, damaged);
    fs::remove(configFile.string() + ".bak");
    const auto changed = everything(configFile.parent_path());
    const auto second = run({"--check"});
    EXPECT_NE(
        second.out.find(
            " の 1 行 1 列目に JSON の誤りがあります（既定の設定で確認します。ファイルは書き換えません）\n"
            "profiles: 1\n"),
        std::string::npos)
        << second.out;
    EXPECT_EQ(everything(configFile.parent_path()), changed);
}

// A machine with every kind of profile, against the loopback server.
class CheckReport : public CheckCommand {
protected:
    const std::string keyed = *readFile(kData + "/claude/usage-keyed.json");
    const std::string limits =
        R"({"limits":[{"kind":"session","percent":7,"resets_at":"2100-01-01T05:00:00.5+00:00"},)"
        R"json({"kind":"weekly_scoped","percent":100,"scope":{"model":{"display_name":"Claude Opus 4.5 (extended context)"}}}]})json";

    void SetUp() override {
        auto credentials = [](const std::string& token, const std::string& expiry) {
            return R"({"claudeAiOauth":{"accessToken":")" + token + R"(","refreshToken":"r-)" + token + "\"" +
                   expiry + R"(,"scopes":["user:inference"]},"mcpOAuth":{}})";
        };
        writeFile(home / ".claude/.credentials.json",
                  credentials("tok-main", R"(,"expiresAt":4102444800000)"));
        writeFile(home / ".claude-work/.credentials.json",
                  credentials("tok-work", R"(,"expiresAt":1000000000001)"));
        writeFile(home / ".claude-limits/.credentials.json", credentials("tok-limits", ""));
        writeFile(home / ".claude-busy/.credentials.json", credentials("tok-busy", ""));
        writeFile(home / ".claude-odd/.credentials.json", credentials("tok-odd", ""));
        fs::create_directories(home / ".claude-missing");
        // A real-shaped Codex log whose windows reset long after today.
        std::string log = *readFile(kData + "/codex/rollout-sample.jsonl");
        replaceAll(log, "1789408260", "4102444800");
        replaceAll(log, "1789713000", "4102531200");
        writeFile(home / ".codex/sessions/2026/09/14/rollout-2026-09-14T10-02-11-0199f0c2.jsonl", log);

        writeFile(configFile, R"({"activeProfileID": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "profiles": [
            {"id": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "name": "main", "configDir": "~/.claude"},
            {"name": "work", "configDir": "~/.claude-work"},
            {"name": "limits", "configDir": "~/.claude-limits"},
            {"name": "busy", "configDir": "~/.claude-busy"},
            {"name": "odd", "configDir": "~/.claude-odd"},
            {"name": "missing", "configDir": "~/.claude-missing"},
            {"name": "codex", "configDir": "~/.codex", "provider": "codex"}]})");

        server.on("GET", "/api/oauth/usage", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string auth = req.get_header_value("Authorization");
            if (auth == "Bearer tok-main") {
                res.set_content(keyed, "application/json");
            } else if (auth == "Bearer tok-limits") {
                res.set_content(limits, "application/json");
            } else if (auth == "Bearer tok-busy") {
                res.status = 429;
                res.set_header("retry-after", "30");
                res.set_content(
                    R"({"type":"error","error":{"type":"rate_limit_error","message":"Rate limited"}})",
                    "application/json");
            } else if (auth == "Bearer tok-odd") {
                res.set_content(std::string("\xff\xfe\x00\x01", 4), "application/octet-stream");
            } else {
                res.status = 401;
                res.set_content(
                    R"({"type":"error","error":{"type":"authentication_error","message":"OAuth token has expired."}})",
                    "application/json");
            }
        });
        server.on("GET", "/api/oauth/profile", [](const httplib::Request& req, httplib::Response& res) {
            if (req.get_header_value("Authorization") == "Bearer tok-main")
                res.set_content(
                    R"({"account":{"uuid":"a1","email":"main@example.com"},"organization":{"uuid":"o1"}})",
                    "application/json");
            else if (req.get_header_value("Authorization") == "Bearer tok-limits")
                res.set_content(R"({"organization":{"billing":{"email":"billing@example.com"}}})",
                                "application/json");
            else
                res.status = 403;
        });
    }

    // The texts of the report that follow the language; the rest is the same in every language.
    struct Texts {
        std::string lang; // LANG for the run ("" for none)
        std::string valid, expired, auth401, rateLimited, badResponse, notCaptured;
    };
    static const Texts& japanese() {
        static const Texts t{
            "",
            "[有効 〜",
            "[期限切れ ",
            "認証エラー (401)。このログインはもう使えません。このアカウントで claude "
            "にログインし直し、「現在のログインをここに取り込む」を実行してください",
            "レート制限 (429) · 再試行待ち",
            "API レスポンスを解析できませんでした",
            "未取込。このアカウントで claude "
            "にログイン中に、メニューの「現在のログインをここに取り込む」を実行してください"};
        return t;
    }
    static const Texts& english() {
        static const Texts t{
            "en_US.UTF-8",
            "[valid until ",
            "[expired ",
            "Authentication error (401). This login no longer works. Log in to claude with this account "
            "again, then choose “Capture the current login here”",
            "Rate limited (429) · waiting to retry",
            "Could not parse the API response",
            "Not captured. While claude is logged in to this account, choose “Capture the current login "
            "here” in the menu"};
        return t;
    }

    std::string expected(bool raw, const Texts& t = japanese()) {
        const std::string h = home.path().string();
        std::string out = "ulmet --check\n"
                          "config: " +
                          configFile.string() +
                          "\n"
                          "profiles: 7\n"
                          "history: none\n"
                          "\n== main [Claude] (~/.claude) [active]\n"
                          "  creds: file: " +
                          h + "/.claude/.credentials.json " + t.valid +
                          "2100-01-01T00:00:00Z]\n"
                          "  account: main@example.com\n";
        if (raw)
            out += "  raw (HTTP 200): " + keyed + "\n";
        out += "  five_hour                 37.0%  resets 2026-09-14T12:59:59Z\n"
               "  seven_day                 26.0%  resets 2026-09-18T06:59:59Z\n"
               "  seven_day_sonnet           1.0%  resets 2026-09-18T06:59:59Z\n"
               "\n== work [Claude] (~/.claude-work)\n"
               "  creds: file: " +
               h + "/.claude-work/.credentials.json " + t.expired + "2001-09-09T01:46:40Z]\n";
        if (raw)
            out +=
                R"(  raw (HTTP 401): {"type":"error","error":{"type":"authentication_error","message":"OAuth token has expired."}})"
                "\n";
        out += "  ERROR: " + t.auth401 +
               "\n"
               "\n== limits [Claude] (~/.claude-limits)\n"
               "  creds: file: " +
               h +
               "/.claude-limits/.credentials.json\n"
               "  account: billing@example.com\n";
        if (raw)
            out += "  raw (HTTP 200): " + limits + "\n";
        out += "  five_hour                  7.0%  resets 2100-01-01T05:00:00Z\n"
               "  seven_day_scoped:Claude  100.0%\n"
               "\n== busy [Claude] (~/.claude-busy)\n"
               "  creds: file: " +
               h + "/.claude-busy/.credentials.json\n";
        if (raw)
            out +=
                R"(  raw (HTTP 429): {"type":"error","error":{"type":"rate_limit_error","message":"Rate limited"}})"
                "\n";
        out += "  ERROR: " + t.rateLimited +
               "\n"
               "\n== odd [Claude] (~/.claude-odd)\n"
               "  creds: file: " +
               h + "/.claude-odd/.credentials.json\n";
        if (raw)
            out += "  raw (HTTP 200): <binary>\n";
        out += "  ERROR: " + t.badResponse +
               "\n"
               "\n== missing [Claude] (~/.claude-missing)\n"
               "  ERROR: " +
               t.notCaptured +
               "\n"
               "\n== codex [Codex] (~/.codex)\n"
               "  plan: plus\n"
               "  codex_5h                   3.0%  resets 2100-01-01T00:00:00Z\n"
               "  codex_week                44.0%  resets 2100-01-02T00:00:00Z\n";
        return out;
    }
};

TEST_F(CheckReport, EveryKindOfProfileInEachLanguage) {
    for (const Texts* t : {&japanese(), &english()}) {
        const auto result = t->lang.empty() ? run({"--check"}) : run({"--check"}, {{"LANG", t->lang}});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, expected(false, *t)) << t->lang;
        EXPECT_EQ(result.err, "");
    }
}

TEST_F(CheckReport, RawAddsTheUsageBodies) {
    const auto result = run({"--check", "--raw"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, expected(true));
}

TEST_F(CheckReport, TokensTravelOnlyInTheAuthorizationHeaderAndAreNeverPrintedOrStored) {
    const std::string before = *readFile(home / ".claude/.credentials.json");
    const auto result = run({"--check", "--raw"});
    for (const char* token : {"tok-main", "tok-work", "tok-limits", "tok-busy", "tok-odd"}) {
        EXPECT_EQ(result.out.find(token), std::string::npos) << token;
        EXPECT_EQ(result.err.find(token), std::string::npos) << token;
        EXPECT_EQ(readFile(configFile)->find(token), std::string::npos) << token;
    }
    for (const auto& r : server.requests()) {
        EXPECT_EQ(r.method, "GET");
        EXPECT_EQ(r.body, "");
        for (const auto& [name, value] : r.headers)
            if (name != "authorization") {
                EXPECT_EQ(value.find("tok-"), std::string::npos) << name;
            }
        EXPECT_EQ(r.path.find("tok-"), std::string::npos);
    }
    EXPECT_EQ(readFile(home / ".claude/.credentials.json"), before) << "the check renews and writes nothing";
    EXPECT_FALSE(fs::exists(home / ".local/share/ulmet/history"));
}

// Without MeterKeeper running (here: no session bus at all), --json and --waybar read every
// profile once, as the check does.
TEST_F(CheckReport, JsonAndWaybarWithoutMeterKeeperReadOnce) {
    const auto result = run({"--json"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const auto doc = nlohmann::json::parse(result.out);
    const auto schema =
        nlohmann::json::parse(*readFile(fs::path(ULMET_SOURCE_DIR) / "docs/readings.schema.json"));
    EXPECT_EQ(testsupport::schemaErrors(schema, doc), std::vector<std::string>{});
    EXPECT_EQ(result.out.find("tok-"), std::string::npos);
    std::map<std::string, nlohmann::json> byName;
    for (const auto& p : doc["profiles"])
        byName[p["name"]] = p;
    EXPECT_EQ(doc["shown"], "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(byName["main"]["windows"][0]["utilization"], 37);
    EXPECT_EQ(byName["main"]["source"], "api");
    EXPECT_EQ(byName["work"]["error"],
              "認証エラー (401)。このログインはもう使えません。このアカウントで claude "
              "にログインし直し、「現在のログインをここに取り込む」を実行してください");
    EXPECT_EQ(byName["missing"]["error"], japanese().notCaptured)
        << "only the active profile reads the live login";
    EXPECT_EQ(byName["codex"]["source"], "codexLog");
    EXPECT_EQ(byName["codex"]["windows"].size(), 2u);

    const auto waybar = run({"--waybar"});
    EXPECT_EQ(waybar.exitCode, 0) << waybar.err;
    EXPECT_EQ(nlohmann::json::parse(waybar.out)["text"], "37% · 26%");
    EXPECT_EQ(run({"--list-profiles"}).out, "main\nwork\nlimits\nbusy\nodd\nmissing\ncodex\n");
}

TEST_F(CheckCommand, AServerThatHangsUpMidAnswerCostsOnlyItsProfile) {
    writeFile(home / ".claude-a/.credentials.json", R"({"accessToken":"tok-a"})");
    writeFile(home / ".claude-b/.credentials.json", R"({"accessToken":"tok-b"})");
    writeFile(
        configFile,
        R"({"profiles": [{"name": "a", "configDir": "~/.claude-a"}, {"name": "b", "configDir": "~/.claude-b"}]})");
    server.on("GET", "/api/oauth/usage", [](const httplib::Request& req, httplib::Response& res) {
        if (req.get_header_value("Authorization") == "Bearer tok-a") {
            res.set_content_provider(100000, "application/json",
                                     [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                         sink.write("{\"five", 6);
                                         return false;
                                     });
            return;
        }
        res.set_content(R"({"five_hour":{"utilization":9}})", "application/json");
    });
    const auto result = run({"--check"}, {{"ULMET_NO_KEYCHAIN", "1"}});
    EXPECT_EQ(result.exitCode, 0);
    // libcurl's words for it vary by version; the count of bytes that never came is in all of them.
    EXPECT_NE(result.out.find("99994 bytes"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("== a [Claude] (~/.claude-a)\n  creds: file: " +
                              (home / ".claude-a/.credentials.json").string() + "\n  ERROR: "),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("== b [Claude] (~/.claude-b)\n  creds: file: " +
                              (home / ".claude-b/.credentials.json").string() +
                              "\n  five_hour                  9.0%\n"),
              std::string::npos)
        << result.out;
}

TEST_F(CheckReport, AnActiveMarkerOnlyWithAnActiveProfile) {
    std::string text = *readFile(configFile);
    replaceAll(text, R"("activeProfileID": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F",)", "");
    writeFile(configFile, text);
    const auto result = run({"--check"});
    EXPECT_EQ(result.out.find("[active]"), std::string::npos);
    // The inactive ~/.claude profile does not take the live login's file as its own.
    EXPECT_NE(result.out.find("== main [Claude] (~/.claude)\n  ERROR: 未取込"), std::string::npos)
        << result.out;
}

// The status line: claude's document in, one line out, the reading filed; nothing else loaded.
TEST_F(CheckCommand, TheStatusLineRecordsAndPrintsWithoutLoadingTheRest) {
    const auto result = run({"--statusline"}, {}, kData + "/statusline-input.json");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "5時間 37% 残0分 · 週·全 26% 残0分\n") << "the fixture's resets are past";
    const auto stored = fs::directory_iterator(home / ".local/share/ulmet/statusline");
    EXPECT_NE(stored, fs::directory_iterator());

    // Garbage beyond the limit, or nothing at all: the directory's last reading (its windows
    // reset since), and status 0.
    writeFile(home / "garbage", std::string((1 << 20) + 10, 'x'));
    for (const std::string& input : {(home / "garbage").string(), std::string("/dev/null")}) {
        const auto odd = run({"--statusline"}, {{"CLAUDE_CONFIG_DIR", "/home/dev/.claude"}}, input);
        EXPECT_EQ(odd.exitCode, 0);
        EXPECT_EQ(odd.out, "5時間 0% · 週·全 0%\n") << "the stored reading, its windows reset since";
    }

    // A profile read that way: --check shows its last reading and where it came from, no token.
    writeFile(configFile,
              R"({"profiles": [{"name": "main", "configDir": "~/.claude", "usageSource": "statusLine"}]})");
    const auto viaDir = run({"--statusline"}, {{"CLAUDE_CONFIG_DIR", (home / ".claude").string()}},
                            kData + "/statusline-input.json");
    EXPECT_EQ(viaDir.exitCode, 0);
    const auto check = run({"--check"});
    EXPECT_NE(check.out.find("== main [Claude] (~/.claude)\n  source: status line, read "), std::string::npos)
        << check.out;
    EXPECT_NE(check.out.find("\n  five_hour                  0.0%\n"), std::string::npos) << check.out;
    EXPECT_TRUE(server.requests().empty());

    FILE* pipe = ::popen(("readelf -d " + std::string(ULMET_BINARY)).c_str(), "r");
    ASSERT_TRUE(pipe);
    std::string needed;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe))
        needed += buffer;
    ::pclose(pipe);
    EXPECT_NE(needed.find("libc.so"), std::string::npos) << needed;
    for (const char* heavy : {"Qt6", "curl", "secret", "glib"})
        EXPECT_EQ(needed.find(heavy), std::string::npos) << heavy << " is loaded by the entry point";
}

} // namespace
