// Custody beyond one process's memory: the ledger, the lock, and what the custodian and the
// account steps do with them across restarts, other processes and claude's own writes.

#include "base/Digest.h"
#include "claude/AccountSteps.h"
#include "claude/ActiveCredentialStore.h"
#include "claude/ClaudeAppState.h"
#include "claude/CustodyLedger.h"
#include "claude/CustodyLock.h"
#include "claude/ProfileSlotStore.h"
#include "claude/SlotCustodian.h"
#include "net/CurlTransport.h"
#include "secrets/SecretStore.h"
#include "usage/AnthropicAPI.h"

#include "ErrorText.h"
#include "FakeClock.h"
#include "MemorySecretStore.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "TestHttpServer.h"
#include "TokenEndpoint.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace fs = std::filesystem;
using nlohmann::json;
using testsupport::errorText;
using testsupport::FakeClock;
using testsupport::fileMode;
using testsupport::MemorySecretStore;
using testsupport::readFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::TestHttpServer;
using testsupport::TokenEndpoint;
using testsupport::writeFile;

namespace {

TEST(Digest, Sha256KnownAnswersAcrossBlockBoundaries) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmno"
         "pq"
         "rstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
        {std::string(64, 'x'), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
        {std::string(119, 'x'), "000b48d4edf0fa7bee3c6236ecd2785baa5db4eeb8bb54341b029e0d9fa5fb0c"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [text, digest] : cases)
        EXPECT_EQ(Digest::sha256Hex(text), digest) << text.size() << " bytes";
}

// ---- The ledger and the lock ----------------------------------------------------------------

TEST(CustodyLedgerFile, PrivateTokenFreeBoundedAndAnUnreadableFileLeftAlone) {
    TempDir data;
    FakeClock clock;
    const fs::path file = data / CustodyLedger::kFileName;
    CustodyLedger ledger(data.path(), clock);
    ledger.update([](CustodyLedger::Contents&) {});
    EXPECT_FALSE(fs::exists(file)) << "nothing to keep: no file";

    const Uuid target = Uuid::random();
    ledger.update([&](CustodyLedger::Contents& c) {
        c.tokens[CustodyLedger::fingerprint("r-live-secret")] = {CustodyLedger::State::claudes, clock.now(),
                                                                 "a@x", clock.now(), std::nullopt};
        c.tokens[CustodyLedger::fingerprint("r-spent-secret")] = {CustodyLedger::State::spent, clock.now(),
                                                                  std::nullopt, std::nullopt, std::nullopt};
        c.switching = CustodyLedger::Switch{target, CustodyLedger::fingerprint("r-live-secret"), clock.now()};
        c.pending.push_back({target, true, clock.now()});
    });
    EXPECT_EQ(fileMode(file), 0600u);
    const std::string text = readFile(file).value_or("");
    EXPECT_EQ(text.find("secret"), std::string::npos) << "digests only, never a token";
    const CustodyLedger::Contents again = CustodyLedger(data.path(), clock).read();
    EXPECT_EQ(again.tokens.size(), 2u);
    EXPECT_EQ(again.tokens.at(CustodyLedger::fingerprint("r-live-secret")).account, "a@x");
    ASSERT_TRUE(again.switching);
    EXPECT_EQ(again.switching->target, target);
    ASSERT_EQ(again.pending.size(), 1u);
    EXPECT_TRUE(again.pending[0].enrolment);

    // A month on, the spent entry goes; the live login of claude's stays for as long as it is live.
    clock.advance(CustodyLedger::kKeptFor + std::chrono::hours(1));
    ledger.update([](CustodyLedger::Contents&) {});
    const auto pruned = ledger.read().tokens;
    EXPECT_EQ(pruned.size(), 1u);
    EXPECT_TRUE(pruned.contains(CustodyLedger::fingerprint("r-live-secret")));

    // Damaged: what it knew cannot be known anew, so it is left as it is and nothing that depends
    // on it goes ahead, with a word on what to do.
    writeFile(file, "{\"tokens\": [cut");
    EXPECT_TRUE(ledger.read().tokens.empty());
    EXPECT_FALSE(ledger.sound());
    EXPECT_EQ(errorText([&] { ledger.update([](CustodyLedger::Contents&) {}); }),
              file.string() + " を読めないため、ログインを更新・切替えしません。ファイルを直すか、"
                              "取り込み直すつもりで削除してください");
    EXPECT_EQ(readFile(file).value_or(""), "{\"tokens\": [cut");
}

TEST(CustodyLedgerFile, DatesAtTheEdgeOfTheClockInAHandEditedFileAreNoFault) {
    // The earliest date the clock holds, in a file someone edited: the entry is no entry.
    TempDir data;
    FakeClock clock;
    writeFile(
        data / CustodyLedger::kFileName,
        R"({"version":1,"tokens":{"k":{"state":"spent","since":"0001-01-01T00:00:00Z"}},"pending":[]})");
    CustodyLedger ledger(data.path(), clock);
    EXPECT_TRUE(ledger.read().tokens.empty());
    EXPECT_NO_THROW(ledger.update([](CustodyLedger::Contents&) {}));
    EXPECT_TRUE(ledger.sound());
}

TEST(CustodyLockFile, HeldAgainstOtherProcessesAndThreadsAndAgainByItsHolder) {
    TempDir data;
    {
        const CustodyLock outer(data.path());
        const CustodyLock inner(data.path()); // the same thread: the same hold
        std::atomic<bool> thrown{false};
        std::thread other([&] {
            try {
                const CustodyLock second(data.path(), std::chrono::milliseconds(50));
            } catch (const Error&) {
                thrown = true;
            }
        });
        other.join();
        EXPECT_TRUE(thrown) << "another thread waits for its turn";
    }
    EXPECT_EQ(fileMode(data / CustodyLock::kFileName), 0600u);

    // Another process holds the file lock.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open((data / CustodyLock::kFileName).c_str(), O_RDWR);
        const bool held = fd >= 0 && ::flock(fd, LOCK_EX) == 0;
        const char byte = held ? '1' : '0';
        (void)!::write(ready[1], &byte, 1);
        ::usleep(400 * 1000);
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, '1');
    EXPECT_EQ(errorText([&] { const CustodyLock refused(data.path(), std::chrono::milliseconds(100)); }),
              "別の MeterKeeper がログインを操作中です。しばらくしてからやり直してください");
    { const CustodyLock afterwards(data.path(), std::chrono::seconds(10)); } // once the child is gone
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

// ---- The custodian across restarts and processes --------------------------------------------

std::string blob(const std::string& access, double expiresAtMs, const std::string& refresh) {
    return json{{"claudeAiOauth",
                 {{"accessToken", access},
                  {"refreshToken", refresh},
                  {"expiresAt", static_cast<std::int64_t>(expiresAtMs)},
                  {"scopes", {"user:inference"}}}}}
        .dump();
}

std::string identity(const std::string& email) {
    return json{{"oauthAccount", {{"emailAddress", email}}}}.dump();
}

class CustodyTest : public testing::Test {
protected:
    TempDir home;
    TempDir data;
    MemorySecretStore store;
    FakeClock clock;
    TestHttpServer server;
    ScopedEnv console{"ULMET_CONSOLE_ORIGIN", server.origin()};
    ScopedEnv api{"ULMET_API_ORIGIN", server.origin()};
    ScopedEnv noKeychain{"ULMET_NO_KEYCHAIN", std::nullopt};
    CurlTransport http;
    Services services{http, store, clock, home.path()};
    TokenEndpoint tokens{server};
    fs::path liveFile = home / ".claude/.credentials.json";
    std::unique_ptr<SlotCustodian> custodian = fresh();
    ProfileConfig a = profile("a", "a@x");
    ProfileConfig b = profile("b", "b@x");

    // A new process's custodian: the same files, data folder and secret store.
    std::unique_ptr<SlotCustodian> fresh() { return std::make_unique<SlotCustodian>(services, data.path()); }
    static ProfileConfig profile(const std::string& name, const std::string& email) {
        ProfileConfig p;
        p.name = name;
        p.configDir = "~/.claude";
        p.accountEmail = email;
        p.accountIdentity = identity(email);
        return p;
    }
    double msFromNow(double seconds) { return (DateTime::toUnixSeconds(clock.now()) + seconds) * 1000; }
    void putSlot(const ProfileConfig& p, const std::string& data) {
        store.store(ProfileSlotStore::service, p.id.toString(), data);
    }
    std::string slotOf(const ProfileConfig& p) {
        return store.get(ProfileSlotStore::service, p.id.toString()).value_or("");
    }
    static std::string refreshIn(const std::string& b) {
        return json::parse(b)["claudeAiOauth"]["refreshToken"];
    }
    // The profile endpoint: an access token "x…" is the account x@x's.
    void answerProfiles() {
        server.on("GET", std::string(AnthropicAPI::kProfilePath),
                  [](const httplib::Request& req, httplib::Response& res) {
                      const std::string token = req.get_header_value("Authorization").substr(7);
                      res.set_content(json{{"account", {{"email", token.substr(0, 1) + "@x"}}}}.dump(),
                                      "application/json");
                  });
    }
};

TEST_F(CustodyTest, ATokenHandedToClaudeStaysClaudesAfterARestart) {
    // A switch gave a's login to claude, which renewed it since; the slot still holds the old one.
    const std::string handed = blob("a", msFromNow(-10), "r-a");
    putSlot(a, handed);
    custodian->handedToClaude(handed, "a@x");
    writeFile(liveFile, blob("a2", msFromNow(3600), "r-a2"));
    custodian = fresh();
    EXPECT_EQ(errorText([&] { (void)custodian->credentialsFor(a); }),
              ResolveError::claudeRenews().description());
    EXPECT_EQ(tokens.received(), std::vector<std::string>{});
}

TEST_F(CustodyTest, ARenewalWithoutAClearAnswerIsNeverSentAgainNotEvenAfterARestart) {
    const std::string unknown = "以前の更新の結果が分からないため、このトークンはもう送りません";
    for (const std::string answer : {"502", "cut", "closed"}) {
        SCOPED_TRACE(answer);
        int sent = 0;
        server.on("POST", std::string(AnthropicAPI::kTokenPath),
                  [&](const httplib::Request&, httplib::Response& res) {
                      ++sent;
                      if (answer == "502")
                          res.status = 502;
                      else if (answer == "cut")
                          res.set_content(R"({"access_token":"new","refresh_tok)", "application/json");
                      else // hung up half-way through the answer
                          res.set_content_provider(1000, "application/json",
                                                   [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                                       sink.write(R"({"access_token")", 15);
                                                       return false;
                                                   });
                  });
        const ProfileConfig p = profile("p-" + answer, "p@x");
        putSlot(p, blob("old", msFromNow(-10), "r-" + answer));
        EXPECT_THROW((void)custodian->credentialsFor(p), ResolveError);
        EXPECT_NE(errorText([&] { (void)custodian->credentialsFor(p); }).find(unknown), std::string::npos);
        custodian = fresh();
        EXPECT_NE(errorText([&] { (void)custodian->credentialsFor(p); }).find(unknown), std::string::npos);
        EXPECT_EQ(sent, 1);
    }
}

TEST_F(CustodyTest, ARequestThatNeverLeftIsSentWhenTheEndpointIsBack) {
    putSlot(a, blob("a", msFromNow(-10), "r-a"));
    {
        // Nothing listens there: the request cannot have reached anyone.
        auto gone = std::make_unique<TestHttpServer>();
        const std::string origin = gone->origin();
        gone.reset();
        const ScopedEnv nowhere{"ULMET_CONSOLE_ORIGIN", origin};
        EXPECT_THROW((void)custodian->credentialsFor(a), ResolveError);
    }
    EXPECT_EQ(custodian->credentialsFor(a).resolved.credentials.accessToken, "a.1");
    EXPECT_EQ(tokens.received(), std::vector<std::string>{"r-a"});
}

TEST_F(CustodyTest, WhileClaudesLoginFileCannotBeReadNothingIsRenewed) {
    // claude's own refresh token is in a's slot (a restart forgot that it is claude's), and claude
    // is half-way through writing its file.
    const std::string own = blob("a", msFromNow(-10), "r-a");
    putSlot(a, own);
    for (const std::string partial : {"", "{\"claudeAiOauth\":{\"accessTo"}) {
        writeFile(liveFile, partial);
        EXPECT_EQ(errorText([&] { (void)custodian->credentialsFor(a); }),
                  ResolveError::claudeRenews().description());
    }
    writeFile(liveFile, own);
    EXPECT_TRUE(custodian->credentialsFor(a).claudes);
    EXPECT_EQ(tokens.received(), std::vector<std::string>{});
}

TEST_F(CustodyTest, TwoProcessesRenewingOneSlotSendItsTokenOnce) {
    server.on("POST", std::string(AnthropicAPI::kTokenPath),
              [&](const httplib::Request& req, httplib::Response& res) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(100)); // both are asking by now
                  const std::string refresh = json::parse(req.body)["refresh_token"];
                  res.set_content(json{{"access_token", refresh + "-new"},
                                       {"refresh_token", refresh + ".1"},
                                       {"expires_in", 3600}}
                                      .dump(),
                                  "application/json");
              });
    putSlot(a, blob("a", msFromNow(-10), "r-a"));
    std::unique_ptr<SlotCustodian> second = fresh();
    std::string first, other;
    std::thread one([&] { first = custodian->credentialsFor(a).resolved.credentials.accessToken; });
    std::thread two([&] { other = second->credentialsFor(a).resolved.credentials.accessToken; });
    one.join();
    two.join();
    EXPECT_EQ(first, "r-a-new");
    EXPECT_EQ(other, "r-a-new") << "the second found the renewal in the slot";
    EXPECT_EQ(refreshIn(slotOf(a)), "r-a.1");
}

TEST_F(CustodyTest, RemovalsAndEnrolmentsCutShortAreDeletedUntilGone) {
    putSlot(a, "a");
    store.failWrites(SecretStatus::notAvailable);
    EXPECT_THROW(custodian->remove(a.id), CredentialsError);
    store.failWrites(SecretStatus::success);
    EXPECT_EQ(slotOf(a), "a");
    custodian = fresh(); // a restart between the two
    custodian->settlePending({});
    EXPECT_FALSE(store.get(ProfileSlotStore::service, a.id.toString()));
    EXPECT_TRUE(CustodyLedger(data.path(), clock).read().pending.empty());

    // An enrolment whose profile was never saved: deleted once it has had its time; one that was
    // saved keeps its slot.
    custodian->enrolling(a.id);
    putSlot(a, "a");
    custodian->enrolling(b.id);
    putSlot(b, "b");
    custodian->settlePending({});
    EXPECT_EQ(slotOf(a), "a") << "it may still be saved";
    clock.advance(SlotCustodian::kEnrolmentSettles + std::chrono::seconds(1));
    custodian->settlePending({b});
    EXPECT_FALSE(store.get(ProfileSlotStore::service, a.id.toString()));
    EXPECT_EQ(slotOf(b), "b");
    EXPECT_TRUE(CustodyLedger(data.path(), clock).read().pending.empty());
}

TEST_F(CustodyTest, WhileCustodyJsonCannotBeReadATokenHandedToClaudeIsNotSent) {
    // A switch gave a's login to claude, which renewed it since; then custody.json was damaged.
    const std::string handed = blob("a", msFromNow(-10), "r-a");
    putSlot(a, handed);
    custodian->handedToClaude(handed, "a@x");
    writeFile(liveFile, blob("a2", msFromNow(3600), "r-a2"));
    writeFile(data / CustodyLedger::kFileName, "{\"tokens\": {\"cut");
    custodian = fresh();
    EXPECT_THROW((void)custodian->credentialsFor(a), ResolveError);
    EXPECT_EQ(tokens.received(), std::vector<std::string>{}) << "claude may hold it, or have spent it";
}

TEST_F(CustodyTest, ARenewalAnswerThatKeepsTheRefreshTokenLeavesItUsable) {
    // The endpoint renews the access token and names no new refresh token: the old one stays good.
    int sent = 0;
    server.on(
        "POST", std::string(AnthropicAPI::kTokenPath), [&](const httplib::Request&, httplib::Response& res) {
            ++sent;
            res.set_content(json{{"access_token", "a." + std::to_string(sent)}, {"expires_in", 3600}}.dump(),
                            "application/json");
        });
    putSlot(a, blob("a", msFromNow(-10), "r-a"));
    EXPECT_EQ(custodian->credentialsFor(a).resolved.credentials.accessToken, "a.1");
    ASSERT_EQ(refreshIn(slotOf(a)), "r-a");
    for (int restart = 0; restart < 2; ++restart) {
        SCOPED_TRACE(restart);
        clock.advance(std::chrono::hours(2));
        std::string access;
        EXPECT_NO_THROW(access = custodian->credentialsFor(a).resolved.credentials.accessToken);
        EXPECT_EQ(access, "a." + std::to_string(restart + 2)) << "the expired access token is renewed again";
        custodian = fresh();
    }
}

// Renewed tokens the secret store refused are held and written later, but only over the login
// they replace: a slot another process wrote meanwhile keeps its newer login.
TEST_F(CustodyTest, AHeldRenewalIsNeverWrittenOverANewerSlot) {
    putSlot(a, blob("a", msFromNow(-10), "r-a"));
    store.failWrites(SecretStatus::notAvailable);
    EXPECT_TRUE(custodian->credentialsFor(a).resolved.unsaved);
    store.failWrites(SecretStatus::success);
    const std::string captured = blob("fresh", msFromNow(3600), "r-fresh"); // by another process
    putSlot(a, captured);
    EXPECT_EQ(custodian->credentialsFor(a).resolved.credentials.accessToken, "fresh");
    EXPECT_EQ(slotOf(a), captured);
    EXPECT_EQ(custodian->flushHeld(), 0u) << "nothing held any more";
    EXPECT_EQ(slotOf(a), captured);
}

// ---- The account steps against claude's own writes ------------------------------------------

TEST_F(CustodyTest, ASwitchKeepsTheLoginClaudeRenewedWhileTheSwitchWasUnderWay) {
    answerProfiles();
    const std::string live = blob("a", msFromNow(3600), "r-a");
    writeFile(liveFile, live);
    writeFile(home / ".claude.json", identity("a@x"));
    putSlot(a, live);
    putSlot(b, blob("b", msFromNow(-10), "r-b")); // renewed by the switch
    // claude renews its own login while the token endpoint renews b's.
    const std::string renewedByClaude = blob("a2", msFromNow(3600), "r-a2");
    server.on("POST", std::string(AnthropicAPI::kTokenPath),
              [&](const httplib::Request&, httplib::Response& res) {
                  writeFile(liveFile, renewedByClaude);
                  res.set_content(R"({"access_token":"b.1","refresh_token":"r-b.1","expires_in":3600})",
                                  "application/json");
              });
    const AccountSteps::Switch result = AccountSteps::switchTo(services, *custodian, {a, b}, b);
    EXPECT_TRUE(result.switched) << result.message;
    EXPECT_EQ(slotOf(a), renewedByClaude) << "a's newest login is kept";
    EXPECT_EQ(refreshIn(readFile(liveFile).value_or("{}")), "r-b.1");
    EXPECT_EQ(ClaudeAppState::readEmail(home.path()), "b@x");
    EXPECT_FALSE(CustodyLedger(data.path(), clock).read().switching) << "finished";
}

TEST_F(CustodyTest, ASwitchStopsWhenTheOutgoingLoginsAccountCannotBeTold) {
    // claude renewed a's login while no MeterKeeper ran and has been idle since: its access token
    // has expired, the profile endpoint refuses it, and a's slot holds the token claude spent.
    server.on("GET", std::string(AnthropicAPI::kProfilePath),
              [](const httplib::Request&, httplib::Response& res) { res.status = 401; });
    const std::string newest = blob("a2", msFromNow(-600), "r-a2");
    writeFile(liveFile, newest);
    writeFile(home / ".claude.json", identity("a@x"));
    putSlot(a, blob("a", msFromNow(-30000), "r-a"));
    putSlot(b, blob("b", msFromNow(3600), "r-b"));
    const AccountSteps::Switch result = AccountSteps::switchTo(services, *custodian, {a, b}, b);
    const bool kept = readFile(liveFile).value_or("") == newest || slotOf(a) == newest;
    EXPECT_TRUE(kept) << "a's only login was overwritten: " << result.message;
}

TEST_F(CustodyTest, ASwitchCutShortBetweenClaudesTwoFilesIsCompletedAtTheNextLook) {
    const std::string written = blob("b", msFromNow(3600), "r-b");
    writeFile(home / ".claude.json", identity("a@x"));
    const auto cutShort = [&] {
        CustodyLedger(data.path(), clock).update([&](CustodyLedger::Contents& c) {
            c.switching = CustodyLedger::Switch{b.id, CustodyLedger::fingerprint("r-b"), clock.now()};
        });
    };
    // Killed after the login was written: the identity follows it.
    cutShort();
    writeFile(liveFile, written);
    EXPECT_TRUE(AccountSteps::repair(services, *custodian, {a, b}));
    EXPECT_EQ(ClaudeAppState::readEmail(home.path()), "b@x");
    EXPECT_FALSE(CustodyLedger(data.path(), clock).read().switching);
    // Killed before it: nothing to complete.
    writeFile(home / ".claude.json", identity("a@x"));
    writeFile(liveFile, blob("a", msFromNow(3600), "r-a"));
    cutShort();
    EXPECT_FALSE(AccountSteps::repair(services, *custodian, {a, b}));
    EXPECT_EQ(ClaudeAppState::readEmail(home.path()), "a@x");
    EXPECT_FALSE(CustodyLedger(data.path(), clock).read().switching);
}

TEST_F(CustodyTest, TheLiveLoginGoesIntoASlotOnlyWhileClaudesFilesStandStill) {
    const std::string seen = blob("a", msFromNow(3600), "r-a");
    writeFile(home / ".claude.json", identity("a@x"));
    // claude wrote its login again since it was read: not this one.
    writeFile(liveFile, blob("b", msFromNow(3600), "r-b"));
    EXPECT_FALSE(AccountSteps::storeLiveLogin(services, *custodian, a.id, seen, "a@x", false));
    EXPECT_EQ(slotOf(a), "");
    // The account came from the state file, which names another account now.
    writeFile(liveFile, seen);
    writeFile(home / ".claude.json", identity("b@x"));
    EXPECT_FALSE(AccountSteps::storeLiveLogin(services, *custodian, a.id, seen, "a@x", true));
    EXPECT_EQ(slotOf(a), "");
    // A switch is unfinished.
    writeFile(home / ".claude.json", identity("a@x"));
    CustodyLedger(data.path(), clock).update([&](CustodyLedger::Contents& c) {
        c.switching = CustodyLedger::Switch{b.id, "x", clock.now()};
    });
    EXPECT_FALSE(AccountSteps::storeLiveLogin(services, *custodian, a.id, seen, "a@x", true));
    EXPECT_EQ(slotOf(a), "");
    CustodyLedger(data.path(), clock).update([](CustodyLedger::Contents& c) { c.switching.reset(); });
    EXPECT_EQ(AccountSteps::storeLiveLogin(services, *custodian, a.id, seen, "a@x", true), identity("a@x"));
    EXPECT_EQ(slotOf(a), seen);
}

TEST_F(CustodyTest, AProfileListReadBeforeAnotherProcessCapturedIntoAProfileMixesNoAccounts) {
    // This process read {a, b}; another captured b's login into a since (the person chose to).
    answerProfiles();
    const std::string loginB = blob("b", msFromNow(3600), "r-b");
    writeFile(liveFile, loginB);
    writeFile(home / ".claude.json", identity("b@x"));
    putSlot(a, blob("a", msFromNow(3600), "r-a"));
    putSlot(b, loginB);
    const auto other = fresh();
    // A capture asked while the person saw a logged in takes no other account's login.
    EXPECT_FALSE(AccountSteps::capture(services, *other, a, "a@x").captured);
    EXPECT_EQ(slotOf(a), blob("a", msFromNow(3600), "r-a"));
    ASSERT_TRUE(AccountSteps::capture(services, *other, a, "b@x").captured);
    // A switch to a as this list knows it would put b's login beside a's identity.
    AccountSteps::Switch result = AccountSteps::switchTo(services, *custodian, {a, b}, a);
    EXPECT_FALSE(result.switched);
    EXPECT_NE(result.message.find("「a」"), std::string::npos) << result.message;
    EXPECT_EQ(readFile(liveFile), loginB);
    EXPECT_EQ(ClaudeAppState::readEmail(home.path()), "b@x");
    // With a's own login live, neither the cycle's copy nor a switch's outgoing login goes over
    // the b login that a's slot now holds.
    const std::string loginA = blob("a2", msFromNow(3600), "r-a2");
    writeFile(liveFile, loginA);
    writeFile(home / ".claude.json", identity("a@x"));
    EXPECT_FALSE(AccountSteps::storeLiveLogin(services, *custodian, a.id, loginA, "a@x", false));
    result = AccountSteps::switchTo(services, *custodian, {a, b}, b);
    EXPECT_FALSE(result.switched);
    EXPECT_EQ(slotOf(a), loginB);
    EXPECT_EQ(readFile(liveFile), loginA);
    // The list as the other process saved it agrees; a removal forgets the slot.
    EXPECT_TRUE(custodian->slotIsOf(a.id, "b@x"));
    other->remove(a.id);
    EXPECT_FALSE(CustodyLedger(data.path(), clock).read().slotAccounts.contains(a.id));
}

TEST_F(CustodyTest, AnEnrolmentOfALoginClaudeHasSinceRenewedIsRefused) {
    const std::string offered = blob("a", msFromNow(3600), "r-a");
    writeFile(liveFile, blob("a2", msFromNow(3600), "r-a2"));
    const Uuid id = Uuid::random();
    const AccountSteps::Enrolment result = AccountSteps::enrol(services, *custodian, {}, id, offered, "a@x");
    EXPECT_FALSE(result.enrolled);
    EXPECT_FALSE(store.get(ProfileSlotStore::service, id.toString()));
}

} // namespace
