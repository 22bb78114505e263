// Random interleavings of what a user can set off at once — switches, captures, enrolment,
// removals, refreshes, automatic switching, a login made with claude itself and claude renewing its
// own login — over a slow transport and a slow secret store, with tokens that expire during the
// run and a token endpoint that takes each refresh token once. Some bursts also have:
// - a second process (a store of its own, with its own custodian and transport, on the same home,
//   data folder and secret store) switching and refreshing at the same time, on a profile list
//   that learns of this store's captures and enrolments only after they are made;
// - claude renewing its login while the token or the profile endpoint is answering someone;
// - a secret store that refuses slot writes now and then;
// and after some bursts the store is restarted (a new process's memory on the same files).
// After every burst the stores are let finish and the files are checked: the live login is one
// account's, no profile holds another account's identity or login, no account is enrolled twice,
// a success message describes what is on disk, no refresh token was sent twice, while claude held
// it or after claude spent it, claude's own renewals never fail, the live login is not a spent
// one, a removed profile has no secret left and, once nothing can be held in memory, every
// account's login is still usable from its slot or as the live login.
// ULMET_STRESS_ROUNDS sets the number of bursts (default 200), ULMET_STRESS_SEED the seed,
// ULMET_STRESS_TRACE=1 prints what each broken burst (and the one before) did, =2 every burst.

#include "StoreFixture.h"
#include "TokenEndpoint.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

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
    std::uint64_t messageAt = 0; // when the store's lastActionMessage last changed
    std::vector<std::string> enrolledTwice;
    TokenEndpoint tokens{server};
    std::set<Uuid> removed;
    std::set<std::string> removedNames;
    // Accounts whose newest login the person may have thrown away (removing one of two profiles
    // of the account), until the next repair.
    std::set<std::string> givenUp;
    std::size_t reusedSeen = 0, whileClaudesSeen = 0, afterClaudeSeen = 0;
    // A second process on the same home, data folder and secret store, for one burst.
    CurlTransport otherHttp;
    std::unique_ptr<UsageStore> other;
    QMetaObject::Connection otherFollows;
    // A slot write was refused since the store last started: renewed tokens may be held in its
    // memory, so the slots alone need not hold every login.
    bool writesRefused = false;
    int restarts = 0, twoProcessBursts = 0, refusingBursts = 0;

    // claude's own steps, which also come from the server's threads while it answers.
    std::mutex claudeMutex;
    int logins = 0;                           // under claudeMutex
    std::vector<std::string> claudeLoggedOut; // under claudeMutex
    std::minstd_rand exchangeRandom;          // under claudeMutex
    int renewalsInExchanges = 0;              // under claudeMutex
    std::atomic<int> renewInExchangePercent{0};

    // What each burst did, printed with ULMET_STRESS_TRACE.
    const int traceLevel = envNumber("ULMET_STRESS_TRACE", 0);
    const bool tracing = traceLevel > 0;
    std::mutex traceMutex;
    std::vector<std::string> trace; // under traceMutex
    std::string previousTrace;
    void note(const std::string& what) {
        if (!tracing)
            return;
        const std::lock_guard lock(traceMutex);
        trace.push_back(what);
    }
    std::string nameOf(const UsageStore& s, const ProfileConfig& p) {
        return std::string(&s == other.get() ? "other " : "") + p.name + "(" + p.accountEmail.value_or("?") +
               ")";
    }
    // The state on disk: profiles with their slots' refresh tokens, the live one.
    std::string snapshot() {
        std::string out = "live " +
                          refreshOf(readFile(ActiveCredentialStore::filePath(home.path()))).value_or("-") +
                          " identity " + emailOfIdentity(readFile(home / ".claude.json")).value_or("-") + ";";
        for (const ProfileConfig& p : store->config().profiles)
            out += " " + p.name + "(" + p.accountEmail.value_or("?") +
                   ")=" + refreshOf(secrets.get(ProfileSlotStore::service, p.id.toString())).value_or("-");
        return out;
    }

    void TearDown() override {
        sleeper.settle();
        other.reset();
        StoreTest::TearDown();
    }

    // A login blob whose access token expires within ten minutes.
    std::string expiring(const std::string& token) { return expiringIn(token, pick(600)); }
    std::string expiringIn(const std::string& token, int seconds) {
        const long long ms =
            duration_cast<milliseconds>(clock.now().time_since_epoch()).count() + 1000LL * seconds;
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
        const std::lock_guard lock(claudeMutex);
        const json inner = liveLogin();
        if (!inner.is_object())
            return;
        if (inner.value("expiresAt", 0LL) >
            duration_cast<milliseconds>(clock.now().time_since_epoch()).count())
            return;
        claudeRenewsLocked(inner.value("refreshToken", ""), pick(600));
    }
    // While the server answers someone (on its thread): now and then claude renews its login just
    // then, expired or not (a claude session that was refused its access token renews at once).
    void maybeClaudeRenewsMeanwhile() {
        const std::lock_guard lock(claudeMutex);
        if (static_cast<int>(exchangeRandom() % 100) >= renewInExchangePercent.load())
            return;
        const json inner = liveLogin();
        if (!inner.is_object())
            return;
        ++renewalsInExchanges;
        note("claude renews while an exchange is answered");
        claudeRenewsLocked(inner.value("refreshToken", ""), 60 + static_cast<int>(exchangeRandom() % 600));
    }
    // Under claudeMutex. claude writes its file in place here, without any lock of ours.
    void claudeRenewsLocked(const std::string& refresh, int expiresIn) {
        const auto granted = tokens.grantForClaude(refresh);
        note("claude renews " + refresh +
             (granted ? " to " + granted->second : std::string(" and is refused")));
        if (!granted) {
            claudeLoggedOut.push_back(refresh);
            return;
        }
        writeFile(ActiveCredentialStore::filePath(home.path()), expiringIn(granted->first, expiresIn));
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
        const std::lock_guard lock(claudeMutex);
        writeFile(ActiveCredentialStore::filePath(home.path()),
                  expiring(account.token + "~" + std::to_string(++logins)));
        writeFile(home / ".claude.json", identityOf(account.email));
        changedAt = ++sequence;
        note("claude logs in as " + account.email + " (tok" + std::to_string(logins) + ")");
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

    bool refusedThisBurst = false; // slot writes were refused now and then in this burst
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
        if (auto wrong = messageBelied())
            found.push_back(*wrong);
        found.insert(found.end(), enrolledTwice.begin(), enrolledTwice.end());
        enrolledTwice.clear();
        // A deletion the secret store refused in this burst stays named in the ledger and is
        // retried by the next cycle: it is looked at again after the next burst.
        const std::string ledger = readFile(configDir / "custody.json").value_or("");
        for (const Uuid& id : removed)
            if (secrets.get(ProfileSlotStore::service, id.toString()) &&
                !(refusedThisBurst && ledger.find(id.toString()) != std::string::npos))
                found.push_back("a removed profile's slot is still there");
        const auto reused = tokens.reused();
        for (; reusedSeen < reused.size(); ++reusedSeen)
            found.push_back("refresh token sent twice: " + reused[reusedSeen]);
        const auto whileClaudes = tokens.sentWhileClaudes();
        for (; whileClaudesSeen < whileClaudes.size(); ++whileClaudesSeen)
            found.push_back("claude's refresh token sent: " + whileClaudes[whileClaudesSeen]);
        const auto afterClaude = tokens.sentAfterClaudeSpent();
        for (; afterClaudeSeen < afterClaude.size(); ++afterClaudeSeen)
            found.push_back("a refresh token claude had spent was sent: " + afterClaude[afterClaudeSeen]);
        {
            const std::lock_guard lock(claudeMutex);
            for (const std::string& r : claudeLoggedOut)
                found.push_back("claude was logged out: its refresh token " + r + " was spent");
            claudeLoggedOut.clear();
        }
        if (const auto r = liveRefresh(); r && tokens.spent(*r))
            found.push_back("the live login's refresh token " + *r + " is spent" +
                            (tokens.spentByClaude(*r) ? " (by claude)" : ""));
        return found;
    }

    // The store's message of a switch made, checked while nothing changed the accounts after it
    // (claude's own login, a removal, a second process: its switch may overtake a message that
    // is not said again, since a message repeated announces nothing).
    std::optional<std::string> messageBelied() {
        const std::string message = store->lastActionMessage().value_or("");
        const std::string switched = "」に切替えました。";
        if (messageAt <= changedAt || !message.starts_with("「") ||
            message.find(switched) == std::string::npos)
            return std::nullopt;
        const auto live = accountOfBlob(readFile(ActiveCredentialStore::filePath(home.path())));
        // "「b」に切替えました。…", or "「a」のセッションが…ため「b」に切替えました。…"
        const std::size_t end = message.find(switched);
        const std::size_t start = message.rfind("「", end) + std::string("「").size();
        const std::string name = message.substr(start, end - start);
        const auto& ps = store->config().profiles;
        if (removedNames.contains(name) || std::any_of(ps.begin(), ps.end(), [&](const ProfileConfig& p) {
                return p.name == name && p.accountEmail == live;
            }))
            return std::nullopt;
        return "says switched to " + name + " but " + live.value_or("?") + " is logged in";
    }

    static std::optional<std::string> refreshOf(const std::optional<std::string>& blob) {
        const json j = blob ? json::parse(*blob, nullptr, false) : json();
        if (!j.is_object() || !j.contains("claudeAiOauth") || !j["claudeAiOauth"].is_object())
            return std::nullopt;
        return j["claudeAiOauth"].value("refreshToken", "");
    }
    // Whether logging in with claude now loses nothing: the live login is in a slot (or none is
    // live). Otherwise the person would have thrown away the newest login of that account.
    bool liveLoginKept() {
        const auto live = liveRefresh();
        if (!live)
            return true;
        const auto& ps = store->config().profiles;
        return std::any_of(ps.begin(), ps.end(), [&](const ProfileConfig& p) {
            return refreshOf(secrets.get(ProfileSlotStore::service, p.id.toString())) == live;
        });
    }

    // Every account with a profile can still be used: its slot holds a refresh token not spent,
    // or it is logged in with one. Only when nothing is held in a custodian's memory.
    std::vector<std::string> lostLogins() {
        const auto liveBlob = readFile(ActiveCredentialStore::filePath(home.path()));
        const auto liveToken = refreshOf(liveBlob);
        std::map<std::string, bool> usable; // by account
        if (const auto live = accountOfBlob(liveBlob); live && liveToken && !tokens.spent(*liveToken))
            usable[*live] = true;
        for (const ProfileConfig& p : store->config().profiles) {
            if (!p.accountEmail)
                continue;
            const auto slotToken = refreshOf(secrets.get(ProfileSlotStore::service, p.id.toString()));
            usable[*p.accountEmail] |= slotToken && !tokens.spent(*slotToken);
        }
        std::vector<std::string> found;
        for (const auto& [email, ok] : usable)
            if (!ok && !givenUp.contains(email))
                found.push_back("the login of " + email +
                                " is lost: no slot of it holds a refresh token not spent");
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
        for (const Uuid& id : removed)
            secrets.remove(ProfileSlotStore::service, id.toString());
        givenUp.clear();
        login(kAccounts[0]);
    }

    // Lets worker jobs run for a random moment without waiting for them all.
    void jitter() {
        for (int i = pick(4); i > 0; --i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            std::this_thread::sleep_for(microseconds(pick(1500)));
        }
    }

    void startStore() {
        start();
        QObject::connect(store.get(), &UsageStore::lastActionMessageChanged, [this] { messageChanged(); });
    }
    // The store ends as the program does when it quits, and a new one starts on the same files.
    void restartStore() {
        sleeper.settle();
        store.reset();
        sleeper.settle();
        messageAt = 0;
        startStore();
        writesRefused = false;
        ++restarts;
    }
    // A second process starts on the configuration as the store last saved it.
    void startOther() {
        store->saveNowForDrop();
        other = makeStore(otherHttp);
        // It reads config.json before it acts: edits made meanwhile reach it (a process acting on
        // a profile as it was before another captured into it or removed it is not custody's).
        otherFollows = QObject::connect(store.get(), &UsageStore::configChanged, [this] {
            if (other)
                other->setConfig(store->config());
        });
        ++twoProcessBursts;
    }
    // It ends; the configuration on disk is the store's again (the other process saved its own).
    void endOther() {
        sleeper.settle();
        QObject::disconnect(otherFollows);
        other.reset();
        sleeper.settle();
        changedAt = ++sequence;
        store->saveNowForDrop();
    }

    void fireOne(std::vector<QCoro::Task<>>& running) {
        const int choice = pick(100);
        // Switches and refreshes come from either process (the other one edits no profile), the
        // rest from the store's.
        UsageStore& s = other && choice < 50 && pick(3) == 0 ? *other : *store;
        const auto& profiles = s.config().profiles;
        if (choice < 35 && !profiles.empty()) {
            const ProfileConfig& target = profiles[static_cast<std::size_t>(pick(int(profiles.size())))];
            note("switch to " + nameOf(s, target));
            running.push_back(s.switchTo(target));
        } else if (choice < 50) {
            note(std::string(&s == other.get() ? "other " : "") + "refresh");
            running.push_back(s.refreshAll());
        } else if (choice < 62) {
            note("enrol");
            running.push_back(store->enrollDetectedAccount());
        } else if (choice < 72) {
            // Capture into the profile of the account that is logged in (a re-capture).
            const auto live = accountOfBlob(readFile(ActiveCredentialStore::filePath(home.path())));
            for (const ProfileConfig& p : profiles)
                if (live && p.accountEmail == live) {
                    note("capture into " + nameOf(s, p));
                    running.push_back(s.captureActive(p));
                    break;
                }
        } else if (choice < 75) {
            claudeRenews();
        } else if (choice < 78 && profiles.size() > 2) {
            const Uuid id = profiles[static_cast<std::size_t>(pick(int(profiles.size())))].id;
            removed.insert(id);
            for (const ProfileConfig& p : profiles)
                if (p.id == id) {
                    removedNames.insert(p.name); // a switch to it under way still says so
                    // Of two profiles of one account, the one removed may have had the newer login.
                    if (p.accountEmail &&
                        std::count_if(profiles.begin(), profiles.end(), [&](const ProfileConfig& q) {
                            return q.accountEmail == p.accountEmail;
                        }) > 1)
                        givenUp.insert(*p.accountEmail);
                }
            note("remove " + id.toString());
            store->removeProfile(id);
            changedAt = ++sequence;
        } else if (choice < 84) {
            AppConfig config = store->config();
            config.autoSwitchEnabled = !config.autoSwitchEnabled;
            store->setConfig(config);
            store->scheduleSave();
        } else {
            const int by = pick(45);
            note("advance " + std::to_string(by) + " s");
            sleeper.advance(seconds(by));
        }
    }
};

TEST_F(StoreStressTest, RandomInterleavingsOfAccountOperationsKeepEveryInvariant) {
    const int rounds = envNumber("ULMET_STRESS_ROUNDS", 200);
    const int seed = envNumber("ULMET_STRESS_SEED", 1);
    random.seed(static_cast<unsigned>(seed));
    exchangeRandom.seed(static_cast<unsigned>(seed) * 7919u + 1);

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
    tokens.heldByClaude = [this](const std::string& refresh) {
        const std::lock_guard lock(claudeMutex);
        return liveRefresh() == refresh;
    };
    tokens.whileAnswering = [this] { maybeClaudeRenewsMeanwhile(); };
    whileProfileAnswers = [this] { maybeClaudeRenewsMeanwhile(); };
    login(kAccounts[0]);
    maxDelayMicros = 2000;
    secrets.setMaxDelay(microseconds(1500));
    ConfigStore::save(config, configDir);
    startStore();
    finishCycle();

    int broken = 0;
    std::string first;
    for (int round = 0; round < rounds; ++round) {
        const bool twoProcesses = pick(100) < 40;
        refusedThisBurst = pick(100) < 25;
        refusingBursts += refusedThisBurst;
        writesRefused = writesRefused || refusedThisBurst;
        renewInExchangePercent = pick(100) < 50 ? 15 : 0;
        {
            const std::lock_guard lock(traceMutex);
            trace.clear();
        }
        note("before: " + snapshot());
        const std::size_t sentBefore = tokens.received().size();
        if (twoProcesses)
            startOther();
        {
            std::vector<QCoro::Task<>> running;
            for (int op = 0, n = 2 + pick(5); op < n; ++op) {
                if (refusedThisBurst && pick(3) == 0) {
                    const bool refuse = pick(2);
                    note(refuse ? "slot writes refused" : "slot writes taken");
                    secrets.failWrites(refuse ? SecretStatus::internalError : 0);
                }
                fireOne(running);
                jitter();
            }
            secrets.failWrites(0);
            renewInExchangePercent = 0;
            sleeper.advance(seconds(3)); // every operation and the cycles they started end
            sleeper.settle();
        }
        std::vector<std::string> found;
        if (other)
            endOther();
        if (pick(100) < 33) {
            note("restart");
            restartStore();
        }
        const auto more = violations();
        found.insert(found.end(), more.begin(), more.end());
        if (!writesRefused) {
            const auto lost = lostLogins();
            found.insert(found.end(), lost.begin(), lost.end());
        }
        if (tracing) {
            const auto sent = tokens.received();
            for (std::size_t i = sentBefore; i < sent.size(); ++i)
                note("sent " + sent[i]);
        }
        if (tracing && found.empty()) {
            note("after: " + snapshot());
            const std::lock_guard lock(traceMutex);
            std::ostringstream text;
            text << "  round " << round << (twoProcesses ? " (two)" : "")
                 << (refusedThisBurst ? " (refusing)" : "") << "\n";
            for (const std::string& t : trace)
                text << "    " << t << "\n";
            if (traceLevel == 2)
                std::cout << text.str();
            previousTrace = text.str();
        }
        if (!found.empty()) {
            ++broken;
            if (first.empty())
                first = "round " + std::to_string(round) + ": " + found.front();
            if (broken <= 10 && tracing) {
                note("after: " + snapshot());
                const std::lock_guard lock(traceMutex);
                std::cout << previousTrace;
                for (const std::string& t : trace)
                    std::cout << "    " << t << "\n";
            }
            if (broken <= 10)
                for (const std::string& f : found)
                    std::cout << "[ stress ] round " << round << (twoProcesses ? " (two)" : "")
                              << (refusedThisBurst ? " (refusing)" : "") << ": " << f << "\n";
            repair();
        } else if (pick(100) < 30 && liveLoginKept()) {
            login(kAccounts[static_cast<std::size_t>(pick(int(kAccounts.size())))]);
        }
    }
    std::cout << "[ stress ] seed " << seed << ": " << rounds << " interleavings (" << restarts
              << " restarts, " << twoProcessBursts << " with two processes, " << refusingBursts
              << " with slot writes refused, " << renewalsInExchanges
              << " renewals by claude during an exchange), " << broken << " broke an invariant\n";
    EXPECT_EQ(broken, 0) << first;
}

} // namespace
