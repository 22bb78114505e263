// Kills a process that rewrites the configuration, the live credential and ~/.claude.json with
// SIGKILL at random moments and checks after each kill that every file is wholly the old or the
// new content, parses, and keeps its permission bits. ULMET_CRASH_ITERATIONS sets the count.

#include "CrashContents.h"
#include "claude/ClaudeAppState.h"
#include "config/ConfigStore.h"
#include "history/HistoryRetention.h"

#include "SyntheticHistory.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;
using nlohmann::json;
using namespace testsupport;

namespace {

int iterations() {
    const char* v = std::getenv("ULMET_CRASH_ITERATIONS");
    return v && *v ? std::atoi(v) : 60;
}

// Starts args[0] with `args`, in this environment or only in `env`; 0 when it could not start.
pid_t spawn(std::vector<std::string> args, std::optional<std::vector<std::string>> env = std::nullopt) {
    auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> out;
        for (auto& s : strings)
            out.push_back(s.data());
        out.push_back(nullptr);
        return out;
    };
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = env ? pointers(*env) : std::vector<char*>{};
    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), env ? envp.data() : environ) != 0)
        return 0;
    return pid;
}

TEST(CrashConsistency, EveryFileIsTheOldOrTheNewContentAfterAKill) {
    TempDir home;
    const fs::path configDir = home / "config";
    const fs::path credential = home / ".claude/.credentials.json";
    const fs::path state = home / ".claude.json";
    ConfigStore::save(crashcontents::config(0), configDir);
    writeFile(credential, crashcontents::credential(0));
    fs::permissions(credential, fs::perms(0600));
    const std::string foreign =
        R"({"numStartups": 7, "big": 18446744073709551615, "projects": {"/p": {"h": [1, 2.5]}}, )"
        R"("oauthAccount": {"emailAddress": "v0@example.com"}, "userID": "v0"})";
    writeFile(state, foreign);
    fs::permissions(state, fs::perms(0640));

    const std::string configs[] = {*crashcontents::config(0).encode(), *crashcontents::config(1).encode()};
    const std::string credentials[] = {crashcontents::credential(0), crashcontents::credential(1)};
    std::mt19937 rng(12345);
    int killedMidWrite = 0;
    for (int i = 0; i < iterations(); ++i) {
        const pid_t pid = spawn({CRASH_WRITER, home.path().string(), configDir.string()});
        ASSERT_NE(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + rng() % 30000));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        killedMidWrite += WIFSIGNALED(status);

        const auto c = readFile(configDir / "config.json");
        ASSERT_TRUE(c == configs[0] || c == configs[1]) << "config.json half written after kill " << i;
        EXPECT_EQ(fileMode(configDir / "config.json"), 0600u);
        const auto bak = readFile(configDir / "config.json.bak");
        ASSERT_TRUE(!bak || bak == configs[0] || bak == configs[1]) << "config.json.bak half written";

        const auto cred = readFile(credential);
        ASSERT_TRUE(cred == credentials[0] || cred == credentials[1])
            << "credential half written after kill " << i;
        EXPECT_EQ(fileMode(credential), 0600u);

        const auto text = readFile(state);
        ASSERT_TRUE(text && !text->empty());
        json doc;
        ASSERT_NO_THROW(doc = json::parse(*text)) << "~/.claude.json half written after kill " << i;
        EXPECT_TRUE(doc["userID"] == "v0" || doc["userID"] == "v1");
        EXPECT_EQ(doc["numStartups"], 7);
        EXPECT_EQ(doc["big"].get<std::uint64_t>(), 18446744073709551615u);
        EXPECT_EQ(doc["projects"], json::parse(R"({"/p": {"h": [1, 2.5]}})"));
        EXPECT_EQ(fileMode(state), 0640u);
        const auto backup = readFile(home / ".claude.json.meterkeeper-bak");
        if (backup) {
            EXPECT_TRUE(json::accept(*backup)) << "backup half written after kill " << i;
        }
    }
    EXPECT_EQ(killedMidWrite, iterations());
}

// Thinning killed at random moments: every day file is wholly as written or wholly thinned, and
// the days it keeps whole are never touched. A pass that finished starts the next round afresh.
TEST(CrashConsistency, ThinningKilledAnywhereLeavesWholeFiles) {
    TempDir tmp;
    const fs::path dir = tmp / "history";
    const testsupport::SyntheticHistory synthetic;
    const auto now = std::chrono::system_clock::now();
    const auto days =
        synthetic.write(dir, now - std::chrono::hours(24 * 48), now - std::chrono::hours(24 * 33));
    std::map<std::string, std::pair<std::string, std::string>> texts; // before, after
    for (const auto& day : days)
        texts[day.name] = {synthetic.text(day, false), synthetic.text(day, true)};
    const auto today = HistoryRetention::localDay(now);
    auto restore = [&] {
        for (const auto& [name, text] : texts)
            writeFile(dir / name, text.first);
        fs::remove(dir / ".retention");
    };

    auto thinner = [&] {
        const pid_t pid = spawn({CRASH_THINNER, dir.string()});
        EXPECT_NE(pid, 0);
        return pid;
    };
    // How long one whole pass takes here, to kill at any point of it: the shortest of three, so
    // that a pass slowed by a loaded machine does not make most kills come after the end.
    int status = 0;
    auto pass = std::chrono::microseconds::max();
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ::waitpid(thinner(), &status, 0);
        pass = std::min(pass, std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now() - start));
        restore();
    }

    std::mt19937 rng(54321);
    int killedMidPass = 0, thinnedFiles = 0;
    for (int i = 0; i < iterations(); ++i) {
        const pid_t pid = thinner();
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % pass.count()));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        killedMidPass += WIFSIGNALED(status);
        for (const auto& [name, text] : texts) {
            const auto found = readFile(dir / name);
            ASSERT_TRUE(found) << name << " lost after kill " << i;
            if (HistoryRetention::fateOf(name, today) == HistoryRetention::Fate::keepWhole) {
                ASSERT_EQ(*found, text.first) << name << " is kept whole, yet changed after kill " << i;
                continue;
            }
            ASSERT_TRUE(*found == text.first || *found == text.second) << name << " torn after kill " << i;
            thinnedFiles += *found == text.second;
        }
        if (WIFEXITED(status))
            restore();
    }
    EXPECT_GT(killedMidPass, iterations() / 2);
    EXPECT_GT(thinnedFiles, 0);
}

// What a kill cannot show: every file is flushed before it replaces the old one (else a power
// cut could leave an empty file in its place).
TEST(CrashConsistency, EveryFileIsFlushedBeforeItTakesItsPlace) {
    TempDir home;
    const fs::path configDir = home / "config";
    writeFile(home / ".claude/.credentials.json", crashcontents::credential(0));
    writeFile(home / ".claude.json", R"({"userID": "v0"})");
    const fs::path log = home / "fsync.log";
    const pid_t pid = spawn({CRASH_WRITER, home.path().string(), configDir.string(), "2"},
                            std::vector<std::string>{std::string("LD_PRELOAD=") + FSYNC_LOG,
                                                     "ULMET_FSYNC_LOG=" + log.string(),
                                                     "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"});
    ASSERT_NE(pid, 0);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    std::set<std::string> flushed;
    std::map<std::string, int> replaced; // target → renames onto it, each after a flush
    std::istringstream lines(readFile(log).value_or(""));
    for (std::string what, a, b; lines >> what >> a;) {
        if (what == "fsync") {
            flushed.insert(a);
            continue;
        }
        lines >> b;
        EXPECT_TRUE(flushed.contains(a)) << a << " took the place of " << b << " unflushed";
        ++replaced[fs::path(b).filename().string()];
    }
    for (const char* name : {"config.json", ".credentials.json", ".claude.json"})
        EXPECT_EQ(replaced[name], 2) << name;
}

} // namespace
