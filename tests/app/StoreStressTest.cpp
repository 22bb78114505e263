// Random interleavings of what a user can set off at once — switches, captures, enrolment,
// removals, refreshes, automatic switching, a login made with claude itself and claude renewing its
// own login — over a slow transport and a slow secret store, with tokens that expire during the
// run and a token endpoint that takes each refresh token once. After every burst the store is let
// finish and the files are checked: the live login is one account's, no profile holds another
// account's identity or login, no account is enrolled twice, a success message describes what is
// on disk, no refresh token was sent twice or while claude held it, claude's own renewals never
// fail, and a removed profile has no secret left.
// ULMET_STRESS_ROUNDS sets the number of bursts (default 300), ULMET_STRESS_SEED the first seed.

#include "StoreFixture.h"
#include "TokenEndpoint.h"

#include <algorithm>
#include <cstdlib>
#include <set>

using namespace storetest;

namespace {

struct Account {
    std::string email;
    std::string token;
    double fiveHour;
};

const std::vector<Account> kAccounts = {
    {"a@x", "tok-a", 100}, {"b@x", "tok-b", 40}, {"c@x", "tok-c", 100}, {"d@x", "tok-d", 10}};

int envNumber(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

class StoreStressTest : public StoreTest {
protected:
    std::minstd_rand random;
    std::uint64_t sequence = 0;
    // When claude itself last logged in or a profile was removed: a message from before that says
    // nothing about the accounts now.
    std::uint64_t changedAt = 0;
    std::uint64_t messageAt = 0; // when lastActionMessage last changed
    std::vector<std::string> enrolledTwice;
    TokenEndpoint tokens{server};
    int logins = 0;
    std::set<Uuid> removed;
    std::set<std::string> removedNames;
    std::vector<std::string> claudeLoggedOut;
    std::size_t reusedSeen = 0, whileClaudesSeen = 0;

    // A login blob whose access token expires within ten minutes.
    std::string expiring(const std::string& token) {
        const long long ms =
            duration_cast<milliseconds>(clock.now().time_since_epoch()).count() + 1000LL * pick(600);
        return json{
            {"claudeAiOauth", {{"accessToken", token}, {"refreshToken", "r-" + token}, {"expiresAt", ms}}}}
            .dump();
    }
    // The token object of claude's live credential; null when there is none.
    json liveLogin() {
        const auto text = readFile(ActiveCredentialStore::filePath(home.path()));
        const json j = text ? json::parse(*text, nullptr, false) : json();
        return j.is_object() && j.contains("claudeAiOauth") ? j["claudeAiOauth"] : json();
    }
    std::optional<std::string> liveRefresh() {
        const json inner = liveLogin();
        return inner.is_object() ? std::optional(inner.value("refreshToken", "")) : std::nullopt;
    }
    // claude renews its own login when its token has expired, as it does when it runs.
    void claudeRenews() {
        const json inner = liveLogin();
        if (!inner.is_object())
            return;
        if (inner.value("expiresAt", 0LL) >
            duration_cast<milliseconds>(clock.now().time_since_epoch()).count())
            return;
        const std::string refresh = inner.value("refreshToken", "");
        const auto granted = tokens.grantForClaude(refresh);
        if (!granted) {
            claudeLoggedOut.push_back(refresh);
            return;
        }
        writeFile(ActiveCredentialStore::filePath(home.path()), expiring(granted->first));
    }

    // At the moment an enrolment reports success, its account has exactly one profile. (A
    // capture may later move an address to a second profile: that is the user's doing.)
    void messageChanged() {
        messageAt = ++sequence;
        const std::string message = store->lastActionMessage().value_or("");
        const std::string enrolled = "」を登録しました";
        if (!message.starts_with("「") || !message.ends_with(enrolled))
            return;
        const std::string email = message.substr(3, message.size() - 3 - enrolled.size());
        const auto& ps = store->config().profiles;
        if (std::count_if(ps.begin(), ps.end(),
                          [&](const ProfileConfig& p) { return p.accountEmail == email; }) != 1)
            enrolledTwice.push_back(email + " enrolled a second time");
    }

    int pick(int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); }

    // What `claude /login` leaves behind: its credential and its identity.
    void login(const Account& account) {
        writeFile(ActiveCredentialStore::filePath(home.path()),
                  expiring(account.token + "~" + std::to_string(++logins)));
        writeFile(home / ".claude.json", identityOf(account.email));
        changedAt = ++sequence;
    }

    static std::optional<std::string> emailOfToken(const std::string& token) {
        for (const Account& a : kAccounts)
            if (a.token == accountPart(token))
                return a.email;
        return std::nullopt;
    }
    static std::optional<std::string> accountOfBlob(const std::optional<std::string>& blob) {
        if (!blob)
            return std::nullopt;
        const json j = json::parse(*blob, nullptr, false);
        if (!j.is_object() || !j.contains("claudeAiOauth"))
            return std::nullopt;
        return emailOfToken(j["claudeAiOauth"].value("accessToken", ""));
    }
    static std::optional<std::string> emailOfIdentity(const std::optional<std::string>& text) {
        if (!text)
            return std::nullopt;
        const json j = json::parse(*text, nullptr, false);
        if (!j.is_object() || !j.contains("oauthAccount") || !j["oauthAccount"].is_object())
            return std::nullopt;
        return j["oauthAccount"].value("emailAddress", "");
    }

    // Every broken invariant, described.
    std::vector<std::string> violations() {
        std::vector<std::string> found;
        const auto live = accountOfBlob(readFile(ActiveCredentialStore::filePath(home.path())));
        const auto state = emailOfIdentity(readFile(home / ".claude.json"));
        if (live != state)
            found.push_back("half-switched login: credential of " + live.value_or("?") + ", identity of " +
                            state.value_or("?"));
        for (const ProfileConfig& p : store->config().profiles) {
            if (p.accountIdentity && emailOfIdentity(p.accountIdentity) != p.accountEmail)
                found.push_back(p.name + " (" + p.accountEmail.value_or("?") + ") holds the identity of " +
                                emailOfIdentity(p.accountIdentity).value_or("?"));
            if (!p.accountEmail)
                continue;
            const auto slotAccount = accountOfBlob(secrets.get(ProfileSlotStore::service, p.id.toString()));
            if (slotAccount && slotAccount != p.accountEmail)
                found.push_back(p.name + " (" + *p.accountEmail + ") holds the login of " + *slotAccount);
        }
        const std::string message = store->lastActionMessage().value_or("");
        const std::string switched = "」に切替えました。";
        if (messageAt > changedAt && message.starts_with("「") &&
            message.find(switched) != std::string::npos) {
            // "「b」に切替えました。…", or "「a」のセッションが…ため「b」に切替えました。…"
            const std::size_t end = message.find(switched);
            const std::size_t start = message.rfind("「", end) + std::string("「").size();
            const std::string name = message.substr(start, end - start);
            const auto& ps = store->config().profiles;
            if (!removedNames.contains(name) &&
                std::none_of(ps.begin(), ps.end(), [&](const ProfileConfig& p) {
                    return p.name == name && p.accountEmail == live;
                }))
                found.push_back("says switched to " + name + " but " + live.value_or("?") + " is logged in");
        }
        found.insert(found.end(), enrolledTwice.begin(), enrolledTwice.end());
        enrolledTwice.clear();
        for (const Uuid& id : removed)
            if (secrets.get(ProfileSlotStore::service, id.toString()))
                found.push_back("a removed profile's slot is still there");
        const auto reused = tokens.reused();
        for (; reusedSeen < reused.size(); ++reusedSeen)
            found.push_back("refresh token sent twice: " + reused[reusedSeen]);
        const auto whileClaudes = tokens.sentWhileClaudes();
        for (; whileClaudesSeen < whileClaudes.size(); ++whileClaudesSeen)
            found.push_back("claude's refresh token sent: " + whileClaudes[whileClaudesSeen]);
        for (const std::string& r : claudeLoggedOut)
            found.push_back("claude was logged out: its refresh token " + r + " was spent");
        claudeLoggedOut.clear();
        return found;
    }

    // Puts every profile back on its own account, so that the next burst is a trial of its own.
    void repair() {
        AppConfig config = store->config();
        std::set<std::string> seen;
        std::erase_if(config.profiles, [&](const ProfileConfig& p) {
            return p.accountEmail && !seen.insert(*p.accountEmail).second;
        });
        for (ProfileConfig& p : config.profiles) {
            if (!p.accountEmail)
                continue;
            p.accountIdentity = identityOf(*p.accountEmail);
            for (const Account& a : kAccounts)
                if (a.email == *p.accountEmail)
                    secrets.store(ProfileSlotStore::service, p.id.toString(),
                                  expiring(a.token + "~" + std::to_string(++logins)));
        }
        store->setConfig(config);
        login(kAccounts[0]);
    }

    // Lets worker jobs run for a random moment without waiting for them all.
    void jitter() {
        for (int i = pick(4); i > 0; --i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            std::this_thread::sleep_for(microseconds(pick(1500)));
        }
    }

    void fireOne(std::vector<QCoro::Task<>>& running) {
        const auto& profiles = store->config().profiles;
        const int choice = pick(100);
        if (choice < 35 && !profiles.empty()) {
            running.push_back(
                store->switchTo(profiles[static_cast<std::size_t>(pick(int(profiles.size())))]));
        } else if (choice < 50) {
            running.push_back(store->refreshAll());
        } else if (choice < 62) {
            running.push_back(store->enrollDetectedAccount());
        } else if (choice < 72) {
            // Capture into the profile of the account that is logged in (a re-capture).
            const auto live = accountOfBlob(readFile(ActiveCredentialStore::filePath(home.path())));
            for (const ProfileConfig& p : profiles)
                if (live && p.accountEmail == live) {
                    running.push_back(store->captureActive(p));
                    break;
                }
        } else if (choice < 75) {
            claudeRenews();
        } else if (choice < 78 && profiles.size() > 2) {
            const Uuid id = profiles[static_cast<std::size_t>(pick(int(profiles.size())))].id;
            removed.insert(id);
            for (const ProfileConfig& p : profiles)
                if (p.id == id)
                    removedNames.insert(p.name); // a switch to it under way still says so
            store->removeProfile(id);
            changedAt = ++sequence;
        } else if (choice < 84) {
            AppConfig config = store->config();
            config.autoSwitchEnabled = !config.autoSwitchEnabled;
            store->setConfig(config);
            store->scheduleSave();
        } else {
            sleeper.advance(seconds(pick(45)));
        }
    }
};

TEST_F(StoreStressTest, RandomInterleavingsOfAccountOperationsKeepEveryInvariant) {
    const int rounds = envNumber("ULMET_STRESS_ROUNDS", 300);
    const int seed = envNumber("ULMET_STRESS_SEED", 1);
    random.seed(static_cast<unsigned>(seed));

    AppConfig config;
    config.keychainConnected = true;
    config.autoReadLiveClaude = true;
    config.autoSwitchThreshold = 100;
    std::vector<ProfileConfig> profiles;
    for (std::size_t i = 0; i < 3; ++i) {
        const Account& a = kAccounts[i];
        ProfileConfig p = claude(a.email.substr(0, 1), a.email);
        p.accountIdentity = identityOf(a.email);
        secrets.store(ProfileSlotStore::service, p.id.toString(), expiring(a.token + "~0"));
        profiles.push_back(p);
    }
    config.profiles = profiles;
    for (const Account& a : kAccounts) {
        answer(a.token, ok(usageBody(a.fiveHour)));
        account(a.token, a.email);
    }
    tokens.heldByClaude = [this](const std::string& refresh) { return liveRefresh() == refresh; };
    login(kAccounts[0]);
    maxDelayMicros = 2000;
    secrets.setMaxDelay(microseconds(1500));
    start(config);
    QObject::connect(store.get(), &UsageStore::lastActionMessageChanged, [this] { messageChanged(); });
    finishCycle();

    int broken = 0;
    std::string first;
    for (int round = 0; round < rounds; ++round) {
        std::vector<QCoro::Task<>> running;
        for (int op = 0, n = 2 + pick(5); op < n; ++op) {
            fireOne(running);
            jitter();
        }
        sleeper.advance(seconds(3)); // every operation and the cycles they started end
        sleeper.settle();
        if (const auto found = violations(); !found.empty()) {
            ++broken;
            if (first.empty())
                first = "round " + std::to_string(round) + ": " + found.front();
            repair();
        } else if (pick(100) < 30) {
            login(kAccounts[static_cast<std::size_t>(pick(int(kAccounts.size())))]);
        }
    }
    std::cout << "[ stress ] " << rounds << " interleavings, " << broken << " broke an invariant\n";
    EXPECT_EQ(broken, 0) << first;
}

} // namespace
