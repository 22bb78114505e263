#pragma once

// The store on fakes: a temporary home, a loopback server for the usage and profile endpoints,
// secrets in memory and virtual time. Shared by the store tests and the stress test.
#include "store/UsageStore.h"

#include "base/Paths.h"
#include "claude/ActiveCredentialStore.h"
#include "claude/CredentialResolver.h"
#include "claude/ProfileSlotStore.h"
#include "config/ConfigStore.h"
#include "net/CurlTransport.h"
#include "secrets/LibsecretSecretStore.h"
#include "statusline/StatusLineStore.h"

#include "FakeClock.h"
#include "MemorySecretStore.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "TestHttpServer.h"
#include "VirtualTime.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QThreadPool>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <mutex>
#include <random>
#include <thread>

namespace storetest {

namespace fs = std::filesystem;
using namespace std::chrono;
using nlohmann::json;
using namespace testsupport;

inline std::string blob(const std::string& token) {
    return json{{"claudeAiOauth",
                 {{"accessToken", token}, {"refreshToken", "r-" + token}, {"expiresAt", 4102444800000LL}}}}
        .dump();
}

inline std::string usageBody(double fiveHour, double week = 10) {
    return json{{"five_hour", {{"utilization", fiveHour}, {"resets_at", "2026-09-14T15:00:00Z"}}},
                {"seven_day", {{"utilization", week}, {"resets_at", "2026-09-18T00:00:00Z"}}}}
        .dump();
}

inline std::string identityOf(const std::string& email) {
    return json{{"oauthAccount", {{"emailAddress", email}, {"accountUuid", "u-" + email}}},
                {"userID", "id-" + email}}
        .dump();
}

// Runs a coroutine of the store to its end in virtual time.
inline void await(VirtualSleeper& sleeper, QCoro::Task<> task) {
    for (int i = 0; i < 200 && !task.isReady(); ++i)
        sleeper.advance(seconds(1));
    ASSERT_TRUE(task.isReady());
}

class StoreTest : public testing::Test {
protected:
    TempDir home;
    fs::path configDir = home / ".local/share/ulmet";
    TestHttpServer server;
    ScopedEnv api{"ULMET_API_ORIGIN", server.origin()};
    ScopedEnv console{"ULMET_CONSOLE_ORIGIN", server.origin()};
    ScopedEnv noKeychain{"ULMET_NO_KEYCHAIN", std::nullopt};
    CurlTransport http;
    MemorySecretStore secrets;
    FakeClock clock{*DateTime::parseIso8601("2026-09-14T12:00:00Z")};
    VirtualSleeper sleeper{clock};
    HistoryStore history{home / "history", clock};
    std::vector<std::pair<std::string, std::string>> notifications;
    std::unique_ptr<UsageStore> store;

    // token → usage answer (status, body, retry-after); token → e-mail
    struct Answer {
        int status = 200;
        std::string body;
        std::string retryAfter;
    };
    std::mutex mutex;
    std::map<std::string, Answer> answers;
    std::map<std::string, std::string> accountEmails;
    std::vector<std::pair<std::string, Instant>> usageRequests; // token, virtual time
    // Each answer of the server waits up to this long (real time), to make the transport slow.
    std::atomic<int> maxDelayMicros{0};
    // Called as each request of the profile endpoint comes in, before it is answered (on the
    // server's thread); set before the first store starts.
    std::function<void()> whileProfileAnswers;
    void pause() {
        if (const int max = maxDelayMicros.load(); max > 0) {
            thread_local std::minstd_rand random(std::random_device{}());
            std::this_thread::sleep_for(microseconds(random() % static_cast<unsigned>(max)));
        }
    }

    void SetUp() override {
        server.on("GET", "/api/oauth/usage", [this](const httplib::Request& req, httplib::Response& res) {
            pause();
            std::lock_guard lock(mutex);
            const std::string token = req.get_header_value("Authorization").substr(7);
            usageRequests.emplace_back(token, clock.now());
            const auto it = answers.find(accountPart(token));
            if (it == answers.end()) {
                res.status = 401;
                return;
            }
            res.status = it->second.status;
            if (!it->second.retryAfter.empty())
                res.set_header("retry-after", it->second.retryAfter);
            res.set_content(it->second.body, "application/json");
        });
        server.on("GET", "/api/oauth/profile", [this](const httplib::Request& req, httplib::Response& res) {
            pause();
            if (whileProfileAnswers)
                whileProfileAnswers();
            std::lock_guard lock(mutex);
            const auto it = accountEmails.find(accountPart(req.get_header_value("Authorization").substr(7)));
            if (it == accountEmails.end()) {
                res.status = 404;
                return;
            }
            res.set_content(json{{"account", {{"email", it->second}}}}.dump(), "application/json");
        });
    }
    void TearDown() override {
        sleeper.settle();
        store.reset();
        sleeper.drain();
    }

    // Renewed ("tok-a.3") and later logins ("tok-a~2") of an account answer as its first token.
    static std::string accountPart(const std::string& token) {
        return token.substr(0, token.find_first_of(".~"));
    }
    static Answer ok(std::string body) { return Answer{200, std::move(body), ""}; }
    void answer(const std::string& token, Answer a) {
        std::lock_guard lock(mutex);
        answers[token] = std::move(a);
    }
    void account(const std::string& token, const std::string& email) {
        std::lock_guard lock(mutex);
        accountEmails[token] = email;
    }
    std::vector<std::string> requestedTokens() {
        std::lock_guard lock(mutex);
        std::vector<std::string> t;
        for (const auto& r : usageRequests)
            t.push_back(r.first);
        return t;
    }

    ProfileConfig claude(const std::string& name, std::optional<std::string> email = std::nullopt) {
        ProfileConfig p;
        p.name = name;
        p.configDir = "~/.claude-" + name;
        p.accountEmail = email;
        return p;
    }
    static ProfileConfig codexProfile(const std::string& name = "codex") {
        ProfileConfig p;
        p.name = name;
        p.provider = Provider::codex;
        p.configDir = "~/.codex";
        return p;
    }
    // Two Claude accounts, the secret store connected: a (a@x) active, b (b@x) with its identity,
    // ready to be switched to.
    struct TwoAccounts {
        AppConfig config;
        ProfileConfig a, b;
    };
    TwoAccounts twoAccounts(bool followLiveLogin) {
        TwoAccounts t{AppConfig{}, claude("a", "a@x"), claude("b", "b@x")};
        t.b.accountIdentity = identityOf("b@x");
        t.config.keychainConnected = true;
        t.config.autoReadLiveClaude = followLiveLogin;
        t.config.profiles = {t.a, t.b};
        t.config.activeProfileID = t.a.id;
        return t;
    }
    void slot(const ProfileConfig& p, const std::string& token) {
        secrets.store(ProfileSlotStore::service, p.id.toString(), blob(token));
    }
    void start(const AppConfig& config, bool settle = true) {
        ConfigStore::save(config, configDir);
        start(settle);
    }
    void start(bool settle = true) {
        store = makeStore(http);
        if (settle)
            sleeper.settle();
    }
    // A store on this home, data folder and secret store, talking through `transport`.
    std::unique_ptr<UsageStore> makeStore(HttpTransport& transport) {
        StoreDependencies deps{Services{transport, secrets, clock, home.path()}, configDir, &history,
                               &sleeper, [this](const QString& t, const QString& b) {
                                   notifications.emplace_back(t.toStdString(), b.toStdString());
                               }};
        return std::make_unique<UsageStore>(std::move(deps));
    }
    // Lets the first cycle (with its stagger) finish.
    void finishCycle() { sleeper.advance(seconds(5)); }
    std::optional<double> fiveHour(const Uuid& id) {
        const ProfileStatus* status = store->status(id);
        if (!status || !status->isOk())
            return std::nullopt;
        for (const auto& w : status->okValue()->windows)
            if (w.key == "five_hour")
                return w.utilization;
        return std::nullopt;
    }
    std::string message(const Uuid& id) {
        const ProfileStatus* status = store->status(id);
        return !status || status->isOk() ? "" : status->errorValue()->message;
    }
    // What `ulmet --statusline` files for a directory now, with the account it found logged in.
    void recordStatusLine(const std::string& dir, double fiveHour, std::optional<std::string> account) {
        std::error_code error;
        StatusLineReading reading{StatusLineStore::normalDir(dir, home.path()),
                                  clock.now(),
                                  {{"five_hour", fiveHour, clock.now() + hours(2), std::nullopt}},
                                  std::move(account),
                                  std::nullopt};
        ASSERT_TRUE(StatusLineStore::record(configDir, reading, error));
    }
    AppConfig savedConfig() { return *AppConfig::decode(*readFile(configDir / "config.json")); }
};

} // namespace storetest
