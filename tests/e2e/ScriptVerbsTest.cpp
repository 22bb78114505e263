// The verbs for scripts against the real program: a private session bus and keyring
// (support/with-secret-service.sh), a loopback server for the account endpoints, and MeterKeeper
// itself running headless (offscreen, no tray) where a case needs it.
#include "claude/CredentialResolver.h"
#include "claude/ProfileSlotStore.h"
#include "config/AppConfig.h"
#include "secrets/LibsecretSecretStore.h"

#include "JsonSchema.h"
#include "TempDir.h"
#include "TestHttpServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <thread>

namespace fs = std::filesystem;
using nlohmann::json;
using namespace testsupport;

namespace {

std::string blob(const std::string& token) {
    return json{{"claudeAiOauth",
                 {{"accessToken", token}, {"refreshToken", "r-" + token}, {"expiresAt", 4102444800000LL}}}}
        .dump();
}

std::string identityOf(const std::string& email) {
    return json{{"oauthAccount", {{"emailAddress", email}, {"accountUuid", "u-" + email}}},
                {"userID", "id-" + email}}
        .dump();
}

class ScriptVerbs : public testing::Test {
protected:
    TempDir home;
    TestHttpServer server;
    fs::path configFile = home / ".local/share/ulmet/config.json";
    ProfileConfig a, b;
    std::atomic<int> fiveHourOfA{20};
    std::atomic<int> usageRequests{0};

    void SetUp() override {
        if (!std::getenv("ULMET_TEST_SECRET_SERVICE"))
            GTEST_SKIP() << "needs a private session bus and keyring (the CTest case ScriptVerbs)";
        a.name = "a";
        a.configDir = "~/.claude";
        a.accountEmail = "a@x";
        a.accountIdentity = identityOf("a@x");
        b.name = "b";
        b.configDir = "~/.claude-b";
        b.accountEmail = "b@x";
        b.accountIdentity = identityOf("b@x");
        AppConfig config;
        config.keychainConnected = true;
        config.profiles = {a, b};
        config.activeProfileID = a.id;
        writeFile(configFile, *config.encode());
        writeFile(home / ".claude/.credentials.json", blob("tok-a"));
        LibsecretSecretStore secrets; // the profiles' slots, as a capture leaves them
        ASSERT_EQ(secrets.store(ProfileSlotStore::service, a.id.toString(), blob("tok-a")), 0);
        ASSERT_EQ(secrets.store(ProfileSlotStore::service, b.id.toString(), blob("tok-b")), 0);
        writeFile(home / ".claude.json", identityOf("a@x"));
        server.on("GET", "/api/oauth/usage", [this](const httplib::Request& req, httplib::Response& res) {
            ++usageRequests;
            const bool isA = req.get_header_value("Authorization") == "Bearer tok-a";
            res.set_content(
                json{{"five_hour",
                      {{"utilization", isA ? fiveHourOfA.load() : 5}, {"resets_at", "2100-01-01T05:00:00Z"}}},
                     {"seven_day", {{"utilization", 26}, {"resets_at", "2100-01-03T00:00:00Z"}}}}
                    .dump(),
                "application/json");
        });
        server.on("GET", "/api/oauth/profile", [](const httplib::Request& req, httplib::Response& res) {
            const std::string token = req.get_header_value("Authorization").substr(7);
            res.set_content(json{{"account", {{"email", token.substr(4) + "@x"}}}}.dump(),
                            "application/json");
        });
    }

    std::map<std::string, std::string> env() {
        std::map<std::string, std::string> e{
            {"HOME", home.path().string()},
            {"PATH", "/usr/bin:/bin"},
            {"ULMET_API_ORIGIN", server.origin()},
            {"ULMET_CONSOLE_ORIGIN", server.origin()},
            {"QT_QPA_PLATFORM", "offscreen"},
            {"ULMET_NO_TRAY", "1"},
            // Qt's accessibility and xkb leave objects behind at exit, all inside Qt
            {"ASAN_OPTIONS", "detect_leaks=0:abort_on_error=1"}};
        for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "UBSAN_OPTIONS"})
            if (const char* value = std::getenv(name))
                e[name] = value;
        return e;
    }
    ProcessResult run(std::vector<std::string> args) {
        args.insert(args.begin(), ULMET_BINARY);
        return runProcess(args, env());
    }
    // MeterKeeper, running; ready once it answers a refresh.
    std::unique_ptr<BackgroundProcess> startInstance() {
        auto instance = std::make_unique<BackgroundProcess>(std::vector<std::string>{ULMET_BINARY}, env());
        for (int i = 0; i < 100; ++i) {
            if (run({"--refresh"}).exitCode == 0)
                return instance;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ADD_FAILURE() << "MeterKeeper did not come up";
        return instance;
    }
    std::string live() { return readFile(home / ".claude/.credentials.json").value_or(""); }
    std::string slotOf(const ProfileConfig& p) {
        LibsecretSecretStore secrets;
        return secrets.read(ProfileSlotStore::service, p.id.toString()).data;
    }
    std::optional<Uuid> activeProfile() { return AppConfig::decode(*readFile(configFile))->activeProfileID; }
};

} // namespace

TEST_F(ScriptVerbs, SwitchWithoutAndThenThroughTheRunningMeterKeeper) {
    ProcessResult r = run({"--refresh"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("not running"), std::string::npos) << r.err;

    r = run({"--switch", "B@X"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "「b」に切替えました。開いている claude は一度終了し、新しく起動し直してください\n");
    EXPECT_EQ(live(), blob("tok-b"));
    EXPECT_EQ(json::parse(*readFile(home / ".claude.json"))["oauthAccount"]["emailAddress"], "b@x");
    EXPECT_EQ(activeProfile(), b.id);
    EXPECT_EQ(slotOf(a), blob("tok-a")) << "the outgoing login is in its profile's slot";
    const AppConfig saved = *AppConfig::decode(*readFile(configFile));
    EXPECT_TRUE(saved.profiles[0].accountIdentity) << "the outgoing account's identity learned";
    EXPECT_EQ(saved.profiles[1].accountIdentity, identityOf("b@x")) << "and given to its own profile only";

    r = run({"--switch", "nobody"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with("「nobody」という名前、メールアドレス、ID のプロファイルはありません\n"))
        << r.err;
    EXPECT_NE(r.err.find("\n  a "), std::string::npos) << "the profiles there are";
    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"--switch"}, {"--switch", "a", "b"}, {"--json", "--refresh"}, {"--watch"}})
        EXPECT_EQ(run(wrong).exitCode, 2) << wrong[0];

    const auto instance = startInstance();
    r = run({"--switch", a.id.toString()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "「a」に切替えました。開いている claude は一度終了し、新しく起動し直してください\n");
    EXPECT_EQ(live(), blob("tok-a"));
    EXPECT_EQ(activeProfile(), a.id);
    r = run({"--switch", "nobody"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.starts_with("「nobody」という名前、メールアドレス、ID のプロファイルはありません\n"))
        << r.err;
    EXPECT_NE(r.err.find("\n  a "), std::string::npos) << "the profiles there are";
}

// A switch that fails, without MeterKeeper running: the reason on standard error, exit status 1,
// and the live login and the active profile as they were.
TEST_F(ScriptVerbs, AFailedSwitchWithoutMeterKeeperSaysWhyAndExitsOne) {
    LibsecretSecretStore secrets;
    ASSERT_EQ(secrets.remove(ProfileSlotStore::service, b.id.toString()), 0);
    const ProcessResult r = run({"--switch", "b"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "切替失敗: " + ResolveError::noSlot().description() + "\n");
    EXPECT_EQ(live(), blob("tok-a"));
    EXPECT_EQ(activeProfile(), a.id);
}

// From the running MeterKeeper, --json is its state (no request of its own) and follows the
// documented schema; --waybar --watch prints a line per change and nothing while nothing changes.
TEST_F(ScriptVerbs, JsonAndTheWaybarWatchFollowTheRunningMeterKeeper) {
    const auto env = this->env();
    BackgroundProcess watch({ULMET_BINARY, "--waybar", "--watch"}, env);
    auto line = watch.readLine(20'000);
    ASSERT_TRUE(line);
    EXPECT_EQ(json::parse(*line)["class"], "stopped");

    // The first cycle's readings arrive one profile after the other: lines until both are in.
    auto instance = startInstance();
    json settled;
    while ((line = watch.readLine(20'000))) {
        settled = json::parse(*line);
        if (settled["tooltip"].get<std::string>().find("未取得") == std::string::npos)
            break;
    }
    EXPECT_EQ(settled["text"], "20% · 26%") << settled;
    EXPECT_EQ(watch.readLine(3000), std::nullopt) << "quiet while nothing changes";

    const int requestsBefore = usageRequests;
    const ProcessResult r = run({"--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(usageRequests, requestsBefore) << "the running instance answers from its state";
    const json doc = json::parse(r.out);
    const json schema = json::parse(*readFile(fs::path(ULMET_SOURCE_DIR) / "docs/readings.schema.json"));
    EXPECT_EQ(schemaErrors(schema, doc), std::vector<std::string>{});
    EXPECT_EQ(r.out.find("tok-"), std::string::npos);
    EXPECT_EQ(doc["profiles"][0]["source"], "api");
    EXPECT_EQ(doc["profiles"][0]["windows"][0]["utilization"], 20);
    auto traced = env;
    traced["LD_DEBUG"] = "files";
    const ProcessResult t = runProcess({ULMET_BINARY, "--json"}, traced);
    for (const char* heavy : {"ulmet-full.so", "libcurl", "libsecret", "libQt6Gui", "libQt6Quick"})
        EXPECT_EQ(t.err.find(heavy), std::string::npos) << "asking the running instance loads no " << heavy;

    fiveHourOfA = 75;
    EXPECT_EQ(run({"--refresh"}).exitCode, 0);
    line = watch.readLine(20'000);
    ASSERT_TRUE(line);
    const json changed = json::parse(*line);
    EXPECT_EQ(changed["text"], "75% · 26%");
    EXPECT_EQ(changed["class"], "warning");
    EXPECT_EQ(watch.readLine(2000), std::nullopt) << "one line for one change";

    EXPECT_EQ(run({"--refresh"}).exitCode, 0);
    EXPECT_EQ(watch.readLine(3000), std::nullopt) << "the same figures again are no change";

    instance->stop();
    line = watch.readLine(20'000);
    ASSERT_TRUE(line);
    EXPECT_EQ(json::parse(*line)["class"], "stopped");
}

// Without a running MeterKeeper the verbs speak the user's language, as --check does.
TEST_F(ScriptVerbs, WithoutARunningMeterKeeperTheVerbsSpeakTheUsersLanguage) {
    AppConfig config = *AppConfig::decode(*readFile(configFile));
    ProfileConfig codex;
    codex.name = "codex";
    codex.provider = Provider::codex;
    codex.configDir = "~/.codex"; // no sessions: an error the user reads
    config.profiles.push_back(codex);
    writeFile(configFile, *config.encode());
    auto english = env();
    english["LANG"] = "en_US.UTF-8";
    const auto japaneseIn = [](const std::string& text) {
        return text.find("\xe3") != std::string::npos; // kana and CJK punctuation (U+3000–U+3FFF)
    };

    ProcessResult r = runProcess({ULMET_BINARY, "--switch", "nobody"}, english);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(
        r.err.starts_with("No profile has the name, e-mail address or ID “nobody”\nProfiles (names can be "
                          "changed in MeterKeeper's settings, under “Profiles”):\n  a <a@x> "))
        << r.err;
    EXPECT_FALSE(japaneseIn(r.err));
    r = runProcess({ULMET_BINARY, "--switch", "b"}, english);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Switched to “b”. Quit any running claude and start it again\n");
    for (const char* verb : {"--json", "--waybar"}) {
        r = runProcess({ULMET_BINARY, verb}, english);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_FALSE(japaneseIn(r.out)) << r.out;
    }
    r = runProcess({ULMET_BINARY, "--json"}, english);
    EXPECT_NE(json::parse(r.out)["profiles"][2]["error"], nullptr) << r.out;
}

// A script run while MeterKeeper starts (a login-time key binding, a status bar) reaches it as
// soon as its name is taken, also while it still waits for a tray to appear.
TEST_F(ScriptVerbs, AVerbDuringTheStartReachesTheStartingMeterKeeper) {
    auto env = this->env();
    env.erase("ULMET_NO_TRAY"); // no tray on this bus: it waits for one, then shows its window
    BackgroundProcess instance({ULMET_BINARY}, env);
    for (int i = 0; i < 200; ++i) {
        const ProcessResult r = run({"--refresh"});
        if (r.err.find("not running") == std::string::npos) {
            EXPECT_EQ(r.exitCode, 0) << "the first answer after the name was taken: " << r.err;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "MeterKeeper did not take its name";
}
