// Kills `ulmet --switch` (the helper crash_switcher, switching again and again) with SIGKILL at
// random moments and then starts as the program does, completing a switch cut short. After each
// kill claude's credential and its identity name one account, and no login is lost: every
// account's refresh token in its slot, or the live one, has not been spent — unless the kill cut
// a renewal short, and then the ledger names that token as never to be sent again. No refresh
// token reaches the token endpoint twice, across all the kills.
// ULMET_CRASH_ITERATIONS sets the count.

#include "CrashSwitch.h"
#include "claude/AccountSteps.h"
#include "claude/ActiveCredentialStore.h"
#include "claude/ClaudeAppState.h"
#include "claude/CustodyLedger.h"
#include "claude/ProfileSlotStore.h"
#include "claude/SlotCustodian.h"
#include "config/ConfigStore.h"
#include "net/CurlTransport.h"

#include "FakeClock.h"
#include "FileSecretStore.h"
#include "TempDir.h"
#include "TestHttpServer.h"
#include "TokenEndpoint.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <random>
#include <thread>

namespace fs = std::filesystem;
using nlohmann::json;
using namespace testsupport;

extern char** environ;

namespace {

int iterations() {
    const char* v = std::getenv("ULMET_CRASH_ITERATIONS");
    return v && *v ? std::atoi(v) : 60;
}

std::optional<std::string> field(const std::optional<std::string>& blob, const char* name) {
    const json j = blob ? json::parse(*blob, nullptr, false) : json();
    if (!j.is_object() || !j.contains("claudeAiOauth") || !j["claudeAiOauth"].is_object())
        return std::nullopt;
    return j["claudeAiOauth"].value(name, "");
}

// "tok-b~2.5" → "b@x"
std::optional<std::string> accountOf(const std::optional<std::string>& blob) {
    const auto access = field(blob, "accessToken");
    if (!access || !access->starts_with("tok-") || access->size() < 5)
        return std::nullopt;
    return access->substr(4, 1) + "@x";
}

TEST(SwitchCrash, AKilledSwitchLeavesOneAccountLiveAndLosesNoLogin) {
    TempDir home;
    const fs::path dataDir = home / "data";
    const fs::path secretsFile = home / "secrets.json";
    const fs::path live = ActiveCredentialStore::filePath(home.path());
    TestHttpServer server;
    TokenEndpoint tokens(server);
    server.on("GET", "/api/oauth/profile", [](const httplib::Request& req, httplib::Response& res) {
        const std::string token = req.get_header_value("Authorization").substr(7); // "tok-a~0"
        res.set_content(json{{"account", {{"email", token.substr(4, 1) + "@x"}}}}.dump(), "application/json");
    });

    AppConfig config = crashswitch::config();
    ConfigStore::save(config, dataDir);
    FileSecretStore secrets(secretsFile);
    std::map<std::string, Uuid> idOf; // account → profile
    for (const ProfileConfig& p : config.profiles)
        idOf[*p.accountEmail] = p.id;
    // a is logged in; b's and c's logins have expired: a switch to them renews them first.
    writeFile(live, crashswitch::login("tok-a~0", std::chrono::hours(1)));
    writeFile(home / ".claude.json", crashswitch::identity("a@x"));
    int logins = 0;
    const auto capture = [&](const std::string& email) {
        const std::string token = "tok-" + email.substr(0, 1) + "~" + std::to_string(++logins);
        secrets.store(ProfileSlotStore::service, idOf.at(email).toString(),
                      crashswitch::login(token, -std::chrono::hours(1)));
    };
    capture("b@x");
    capture("c@x");

    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (const auto eq = entry.find('='); eq != std::string::npos)
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    env["HOME"] = home.path().string();
    env["ULMET_API_ORIGIN"] = env["ULMET_CONSOLE_ORIGIN"] = server.origin();
    env.erase("ULMET_NO_KEYCHAIN");

    std::mt19937 rng(4242);
    int killed = 0, cutRenewals = 0, repaired = 0;
    for (int i = 0; i < iterations(); ++i) {
        const std::size_t sentBefore = tokens.received().size();
        {
            BackgroundProcess switcher({CRASH_SWITCHER, home.path().string(), dataDir.string(),
                                        secretsFile.string(), std::to_string(i)},
                                       env);
            ASSERT_EQ(switcher.readLine(20000), "ready");
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 40000));
            killed += switcher.stop(SIGKILL) == -1;
        }

        // The next start: a switch cut short between claude's two files is completed.
        CurlTransport http;
        const FakeClock clock(crashswitch::now());
        const Services services{http, secrets, clock, home.path()};
        SlotCustodian custodian(services, dataDir);
        const ConfigStore::Loaded loaded = ConfigStore::load(dataDir, home.path());
        ASSERT_FALSE(loaded.fault) << "config.json half written after kill " << i;
        repaired += AccountSteps::repair(services, custodian, loaded.config.profiles);

        const auto liveBlob = readFile(live);
        const auto liveAccount = accountOf(liveBlob);
        ASSERT_TRUE(liveAccount) << "claude's credential unreadable after kill " << i;
        ASSERT_EQ(ClaudeAppState::readEmail(home.path()), liveAccount)
            << "claude's identity and credential name two accounts after kill " << i;

        const auto sent = tokens.received();
        const CustodyLedger::Contents ledger = custodian.ledger().read();
        for (const auto& [email, id] : idOf) {
            const auto slot = secrets.get(ProfileSlotStore::service, id.toString());
            const auto slotToken = field(slot, "refreshToken");
            if (slotToken && !tokens.spent(*slotToken))
                continue;
            if (liveAccount == email && !tokens.spent(*field(liveBlob, "refreshToken")))
                continue;
            // Only a renewal this kill cut short may have taken the login, and then the ledger
            // knows that its token is not to be sent again.
            ASSERT_TRUE(slotToken) << email << "'s login is gone after kill " << i;
            ASSERT_NE(
                std::find(sent.begin() + static_cast<std::ptrdiff_t>(sentBefore), sent.end(), *slotToken),
                sent.end())
                << email << "'s login in its slot was spent before kill " << i;
            const auto entry = ledger.tokens.find(CustodyLedger::fingerprint(*slotToken));
            ASSERT_TRUE(entry != ledger.tokens.end() && entry->second.state != CustodyLedger::State::claudes)
                << email << "'s spent token is not named spent after kill " << i;
            ++cutRenewals;
            capture(email); // logged in again and captured
        }
        ASSERT_EQ(tokens.reused(), std::vector<std::string>{}) << "after kill " << i;

        // Now and then an account not logged in gets a new login that needs renewing.
        if (rng() % 3 == 0)
            for (const auto& [email, id] : idOf)
                if (email != liveAccount && rng() % 2 == 0)
                    capture(email);
    }
    std::cout << "[ crash ] " << iterations() << " kills (" << killed << " while running), " << repaired
              << " switches completed at the next start, " << cutRenewals << " renewals cut short, "
              << tokens.received().size() << " renewals sent\n";
    EXPECT_GT(killed, iterations() / 2);
    EXPECT_GT(tokens.received().size(), 0u);
}

} // namespace
