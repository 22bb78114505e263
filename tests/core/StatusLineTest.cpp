#include "statusline/StatusLineCommand.h"
#include "statusline/StatusLineStore.h"

#include "StatHook.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::fileMode;
using testsupport::readFile;
using testsupport::StatHook;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const std::string kFixture = *readFile(fs::path(ULMET_TEST_DATA) / "statusline-input.json");

void replace(std::string& text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

TEST(StatusLineInput, TakesTheTwoWindowsAndSkipsWhatIsOdd) {
    const auto input = StatusLineStore::parseInput(kFixture);
    ASSERT_TRUE(input);
    ASSERT_EQ(input->windows.size(), 2u);
    EXPECT_EQ(input->windows[0].key, "five_hour");
    EXPECT_EQ(input->windows[0].utilization, 37.0);
    EXPECT_EQ(input->windows[0].resetsAt, DateTime::fromUnixSeconds(1789390799));
    EXPECT_EQ(input->windows[1].key, "seven_day");
    EXPECT_EQ(*input->transcriptPath, "/home/dev/.claude/projects/-home-dev-projects-example-app/"
                                      "9b1f0c5e-3a2d-4e6f-8a7b-0c1d2e3f4a5b.jsonl");

    std::string odd = kFixture;
    replace(odd, "\"used_percentage\": 37.0",
            "\"used_percentage\": 1789390799");                                // an epoch, not a percentage
    replace(odd, "\"resets_at\": 1789714799", "\"resets_at\": 1789714799000"); // milliseconds
    replace(odd, "\"seven_day\": {", "\"seven_day_opus\": {\"used_percentage\": 5}, \"seven_day\": {");
    const auto mutated = StatusLineStore::parseInput(odd);
    ASSERT_TRUE(mutated);
    ASSERT_EQ(mutated->windows.size(), 1u) << "the odd session window skipped, the extra window ignored";
    EXPECT_EQ(mutated->windows[0].key, "seven_day");
    EXPECT_FALSE(mutated->windows[0].resetsAt) << "a reset in milliseconds is no time";

    std::string none = kFixture;
    replace(none, "\"rate_limits\"", "\"rate_limits_later\"");
    ASSERT_TRUE(StatusLineStore::parseInput(none));
    EXPECT_TRUE(StatusLineStore::parseInput(none)->windows.empty());
    EXPECT_FALSE(StatusLineStore::parseInput(std::string(1 << 20, '{')));
    EXPECT_FALSE(StatusLineStore::parseInput("[1, 2]"));
    EXPECT_FALSE(StatusLineStore::parseInput(""));
}

TEST(StatusLineInput, TheDirectoryServed) {
    const fs::path home = "/home/me";
    const std::optional<std::string> transcript = "/home/me/.claude-work/projects/-x/1.jsonl";
    EXPECT_EQ(StatusLineStore::configDirFor("~/.claude-alt/", transcript, home), "/home/me/.claude-alt");
    EXPECT_EQ(StatusLineStore::configDirFor(nullptr, transcript, home), "/home/me/.claude-work");
    EXPECT_EQ(StatusLineStore::configDirFor("", "/home/me/projects/.claude/projects/p/1.jsonl", home),
              "/home/me/projects/.claude")
        << "the last projects folder";
    EXPECT_EQ(StatusLineStore::configDirFor(nullptr, "relative/projects/p/1.jsonl", home),
              "/home/me/.claude");
    EXPECT_EQ(StatusLineStore::configDirFor(nullptr, std::nullopt, home), "/home/me/.claude");
}

StatusLineReading reading(const std::string& dir, Instant at, double percent) {
    return {dir, at, {{"five_hour", percent, at + 1h, std::nullopt}}, std::nullopt, std::nullopt};
}

TEST(StatusLineReadings, NewestWinsPrivatelyAndPerDirectory) {
    TempDir tmp;
    const fs::path base = tmp / "data";
    const Instant t0 = DateTime::fromUnixSeconds(1'800'000'000);
    std::error_code error;
    ASSERT_TRUE(StatusLineStore::record(base, reading("/h/.claude", t0, 40), error)) << error.message();
    ASSERT_TRUE(StatusLineStore::record(base, reading("/h/.claude", t0 - 1s, 10), error))
        << "older: no error";
    ASSERT_TRUE(StatusLineStore::record(base, reading("/h/.claude-work", t0, 70), error));
    EXPECT_EQ(StatusLineStore::load(base, "/h/.claude", "/h")->windows[0].utilization, 40);
    EXPECT_EQ(StatusLineStore::load(base, "~/.claude-work", "/h")->windows[0].utilization, 70);
    EXPECT_FALSE(StatusLineStore::load(base, "/h/.claude-other", "/h"));
    for (const auto& entry : fs::directory_iterator(StatusLineStore::dir(base)))
        EXPECT_EQ(fileMode(entry.path()), 0600u) << entry.path();
    EXPECT_EQ(fileMode(StatusLineStore::dir(base)), 0700u);

    // Past its reset a window has reset.
    const auto stored = *StatusLineStore::load(base, "/h/.claude", "/h");
    EXPECT_EQ(StatusLineStore::windowsAt(stored, t0 + 30min)[0].utilization, 40);
    const auto later = StatusLineStore::windowsAt(stored, t0 + 2h);
    EXPECT_EQ(later[0].utilization, 0);
    EXPECT_FALSE(later[0].resetsAt);

    // A reading dated far ahead (a clock that was wrong) does not hold back the ones of now.
    ASSERT_TRUE(StatusLineStore::record(base, reading("/h/.claude-work", t0 + 3h, 99), error));
    ASSERT_TRUE(StatusLineStore::record(base, reading("/h/.claude-work", t0 + 1s, 71), error));
    EXPECT_EQ(StatusLineStore::load(base, "/h/.claude-work", "/h")->windows[0].utilization, 71);

    // A damaged file reads as none and is replaced by the next reading.
    for (const auto& entry : fs::directory_iterator(StatusLineStore::dir(base)))
        if (entry.path().extension() == ".json")
            writeFile(entry.path(), "{\"configDir\": 3");
    EXPECT_FALSE(StatusLineStore::load(base, "/h/.claude", "/h"));
    ASSERT_TRUE(StatusLineStore::record(base, reading("/h/.claude", t0 - 1h, 5), error));
    EXPECT_EQ(StatusLineStore::load(base, "/h/.claude", "/h")->windows[0].utilization, 5);
}

TEST(StatusLineReadings, ConcurrentCallsForTwoDirectoriesKeepTheNewest) {
    TempDir tmp;
    const Instant t0 = DateTime::fromUnixSeconds(1'800'000'000);
    std::vector<std::thread> callers;
    for (int c = 0; c < 4; ++c)
        callers.emplace_back([&, c] {
            const std::string dir = c % 2 ? "/h/a" : "/h/b";
            for (int i = 0; i < 100; ++i) {
                std::error_code error;
                // Interleaved times: caller c writes t0 + (i * 4 + c) ms.
                EXPECT_TRUE(StatusLineStore::record(
                    tmp.path(), reading(dir, t0 + std::chrono::milliseconds(i * 4 + c), i), error));
            }
        });
    for (auto& t : callers)
        t.join();
    EXPECT_EQ(StatusLineStore::load(tmp.path(), "/h/a", "/h")->at, t0 + 399ms);
    EXPECT_EQ(StatusLineStore::load(tmp.path(), "/h/b", "/h")->at, t0 + 398ms);
}

TEST(StatusLineCommandTest, EachReadingNamesTheAccountOfTheStateFileAsItIsNow) {
    TempDir home;
    const fs::path base = home / "data";
    const std::string configDir = (home / ".claude").string();
    writeFile(home / "input.json", kFixture);
    const auto call = [&](Instant now) {
        const int fd = ::open((home / "input.json").c_str(), O_RDONLY);
        std::ostringstream out;
        StatusLineCommand::run(fd, out, {base, home.path(), configDir.c_str(), now});
        ::close(fd);
        return StatusLineStore::load(base, "~/.claude", home.path())->account;
    };
    const Instant t0 = DateTime::fromUnixSeconds(1'789'380'000);
    writeFile(home / ".claude.json", R"({"oauthAccount": {"emailAddress": "a@x"}})");
    EXPECT_EQ(call(t0), "a@x");
    EXPECT_EQ(call(t0 + 1s), "a@x"); // the file unchanged: taken from the last reading
    writeFile(home / ".claude.json", R"({"numStartups": 2, "oauthAccount": {"emailAddress": "b@x"}})");
    EXPECT_EQ(call(t0 + 2s), "b@x");
    fs::remove(home / ".claude.json");
    EXPECT_EQ(call(t0 + 3s), std::nullopt);
}

TEST(StatusLineCommandTest, ReadsBoundedInputAndPrintsTheLine) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[1]); // a closed standard input: nothing, at once
    EXPECT_EQ(StatusLineCommand::readInput(fds[0], 100, 1000ms), "");
    ::close(fds[0]);

    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "{}", 2), 2); // a writer that never closes
    EXPECT_FALSE(StatusLineCommand::readInput(fds[0], 100, 50ms));
    ASSERT_EQ(::write(fds[1], std::string(200, ' ').data(), 200), 200);
    ::close(fds[1]);
    EXPECT_FALSE(StatusLineCommand::readInput(fds[0], 100, 1000ms)) << "over the limit";
    ::close(fds[0]);

    const Instant now = DateTime::fromUnixSeconds(1'800'000'000);
    EXPECT_EQ(StatusLineCommand::line({{"five_hour", 37, now + 2h + 10min, std::nullopt},
                                       {"seven_day", 25.5, now + 96h, std::nullopt}},
                                      now),
              "5時間 37% 残2h · 週·全 26% 残4日");
    EXPECT_EQ(StatusLineCommand::line({}, now), "");
}

TEST(StatusLineInstall, AddsTheEntryOnceKeepingEverythingElse) {
    TempDir home;
    const fs::path dir = home / ".claude";
    fs::create_directories(dir);
    const std::string command = StatusLineCommand::commandFor("/usr/bin/ulmet");
    EXPECT_EQ(command, "/usr/bin/ulmet --statusline");
    EXPECT_EQ(StatusLineCommand::commandFor("/opt/my apps/ulmet"), "'/opt/my apps/ulmet' --statusline");

    // No settings.json yet: made, private.
    auto result = StatusLineCommand::install(dir, command);
    EXPECT_TRUE(result.changed) << result.message;
    EXPECT_EQ(fileMode(dir / "settings.json"), 0600u);
    EXPECT_EQ(StatusLineCommand::inspect(dir).state, StatusLineCommand::InstallState::ours);
    EXPECT_FALSE(StatusLineCommand::install(dir, command).changed);

    // Members, their order and the mode kept; the old text saved first; a link stays a link.
    const std::string before = "{\"model\": \"opus\", \"env\": {\"A\": \"1\"}, \"big\": "
                               "12345678901234567890123, \"zeta\": [1, 2]}\n";
    fs::create_directories(home / "dotfiles");
    writeFile(home / "dotfiles/settings.json", before);
    ::chmod((home / "dotfiles/settings.json").c_str(), 0640);
    fs::remove(dir / "settings.json");
    fs::create_symlink(home / "dotfiles/settings.json", dir / "settings.json");
    result = StatusLineCommand::install(dir, "'/opt/my apps/ulmet' --statusline");
    EXPECT_TRUE(result.changed) << result.message;
    EXPECT_TRUE(fs::is_symlink(dir / "settings.json"));
    EXPECT_EQ(fileMode(home / "dotfiles/settings.json"), 0640u);
    EXPECT_EQ(readFile(home / "dotfiles/settings.json.meterkeeper-bak"), before) << "beside the real file";
    EXPECT_FALSE(fs::exists(dir / "settings.json.meterkeeper-bak"));
    // Every byte kept but the member added (a number beyond a double's precision included).
    EXPECT_EQ(
        *readFile(home / "dotfiles/settings.json"),
        "{\"model\": \"opus\", \"env\": {\"A\": \"1\"}, \"big\": 12345678901234567890123, \"zeta\": [1, 2],\n"
        "  \"statusLine\": {\n    \"type\": \"command\",\n    \"command\": \"'/opt/my apps/ulmet' "
        "--statusline\"\n  }\n}\n");
    EXPECT_EQ(StatusLineCommand::inspect(dir).state, StatusLineCommand::InstallState::ours);

    // A statusLine of null is replaced in place.
    writeFile(home / "dotfiles/settings.json", "{\"statusLine\": null, \"x\": 1}");
    EXPECT_TRUE(StatusLineCommand::install(dir, command).changed);
    EXPECT_EQ(*readFile(home / "dotfiles/settings.json"),
              "{\"statusLine\": {\n    \"type\": \"command\",\n    \"command\": \"/usr/bin/ulmet "
              "--statusline\"\n  }, \"x\": 1}");

    // A link to a file that does not exist yet: the file is made where the link points.
    fs::remove(home / "dotfiles/settings.json");
    EXPECT_TRUE(StatusLineCommand::install(dir, command).changed);
    EXPECT_TRUE(fs::is_symlink(dir / "settings.json"));
    EXPECT_EQ(StatusLineCommand::inspect(dir).state, StatusLineCommand::InstallState::ours);

    // Another command there, or a file that is not a JSON object: nothing changes, and it fails.
    const std::string other = "{\"statusLine\": {\"type\": \"command\", \"command\": \"~/bin/line.sh\"}}";
    for (const std::string& text : {other, std::string("{\"a\": 1,"), std::string("[]")}) {
        writeFile(home / "dotfiles/settings.json", text);
        result = StatusLineCommand::install(dir, command);
        EXPECT_FALSE(result.changed);
        EXPECT_TRUE(result.failed);
        EXPECT_EQ(readFile(home / "dotfiles/settings.json"), text) << result.message;
    }
    EXPECT_FALSE(StatusLineCommand::install(home / "missing", command).changed);
    writeFile(home / "dotfiles/settings.json", other);
    EXPECT_EQ(StatusLineCommand::inspect(dir).state, StatusLineCommand::InstallState::other);
    EXPECT_EQ(StatusLineCommand::inspect(dir).command, "~/bin/line.sh");
}

// A settings.json planted as a link to a login, or to any file but a settings.json, is never
// edited, and nothing of it is copied next to the link.
TEST(StatusLineInstall, ALinkToALoginOrAnotherFileIsRefused) {
    TempDir home;
    const fs::path project = home / "project/.claude";
    fs::create_directories(project);
    const std::string login = R"({"claudeAiOauth":{"accessToken":"sk-ant-oat01-x","refreshToken":"r"}})";
    writeFile(home / ".claude/.credentials.json", login);
    writeFile(home / ".config/other.json", "{}");
    writeFile(home / "elsewhere/settings.json", login); // a login under another name
    for (const fs::path& planted : {home / ".claude/.credentials.json", home / ".config/other.json",
                                    home / "elsewhere/settings.json"}) {
        SCOPED_TRACE(planted.string());
        fs::remove(project / "settings.json");
        fs::create_symlink(planted, project / "settings.json");
        const std::string was = *readFile(planted);
        const auto result = StatusLineCommand::install(project, "/usr/bin/ulmet --statusline");
        EXPECT_FALSE(result.changed);
        EXPECT_TRUE(result.failed);
        EXPECT_EQ(readFile(planted), was);
        for (const auto& entry : fs::recursive_directory_iterator(home / "project"))
            EXPECT_TRUE(entry.is_symlink() || !entry.is_regular_file()) << entry.path();
    }
}

// claude rewrites settings.json while the entry is being added: the entry goes into claude's new
// text, never over it, and a file that changes at every attempt is left as claude wrote it.
TEST(StatusLineInstall, AFileRewrittenMeanwhileIsReadAgainAndNeverWrittenOver) {
    TempDir home;
    const fs::path dir = home / ".claude";
    writeFile(dir / "settings.json", "{\"model\": \"opus\"}");
    const fs::path file = fs::canonical(dir / "settings.json");
    const std::string command = StatusLineCommand::commandFor("/usr/bin/ulmet");
    int rewrites = 0;
    {
        StatHook claude(file, [&] {
            if (rewrites++ == 0)
                writeFile(file, "{\"model\": \"sonnet\"}");
        });
        const auto result = StatusLineCommand::install(dir, command);
        EXPECT_TRUE(result.changed) << result.message;
    }
    EXPECT_EQ(readFile(file), "{\"model\": \"sonnet\",\n  \"statusLine\": {\n    \"type\": \"command\",\n"
                              "    \"command\": \"/usr/bin/ulmet --statusline\"\n  }\n}");
    EXPECT_EQ(readFile(dir / "settings.json.meterkeeper-bak"), "{\"model\": \"sonnet\"}");

    writeFile(file, "{\"n\": 0}");
    int n = 0;
    StatHook claude(file, [&] { writeFile(file, "{\"n\": " + std::to_string(++n) + "}"); });
    const auto result = StatusLineCommand::install(dir, command);
    EXPECT_FALSE(result.changed);
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.message,
              (dir / "settings.json").string() + " が書き換えられ続けているため、変更しませんでした");
    EXPECT_EQ(readFile(file), "{\"n\": " + std::to_string(n) + "}");
}

TEST(StatusLineReadings, TheAccountLoggedInIsTakenFromClaudesStateFile) {
    TempDir home;
    std::optional<std::string> why;
    const std::string main = StatusLineStore::normalDir("~/.claude", home.path());
    EXPECT_FALSE(StatusLineStore::liveAccount(main, home.path(), why)); // no state file
    // A large state file whose account comes after the projects.
    std::string projects = "{\"projects\": {";
    for (int i = 0; i < 2000; ++i)
        projects += (i ? "," : "") + std::string("\"/p/") + std::to_string(i) +
                    "\": {\"h\": [\"a}\\\"b\", 1, {\"x\": [2]}]}";
    writeFile(home / ".claude.json", projects + "}, \"oauthAccount\": {\"emailAddress\": \"a@x\"}}");
    EXPECT_EQ(StatusLineStore::liveAccount(main, home.path(), why), "a@x");
    // Another directory has its own state file.
    const fs::path work = home / ".claude-work";
    fs::create_directories(work);
    writeFile(work / ".claude.json", "{\"oauthAccount\": {\"emailAddress\": \"b@x\"}}");
    EXPECT_EQ(StatusLineStore::liveAccount(StatusLineStore::normalDir(work.string(), home.path()),
                                           home.path(), why),
              "b@x");
    // Beyond the bound: not read, and said why.
    fs::resize_file(home / ".claude.json", StatusLineStore::kMaxStateFile + 1);
    EXPECT_FALSE(StatusLineStore::liveAccount(main, home.path(), why));
    EXPECT_TRUE(why && why->find("MB") != std::string::npos);
    for (const char* broken :
         {"", "[1]", "{\"oauthAccount\": ", "{\"oauthAccount\": {\"emailAddress\": 3}}"}) {
        writeFile(home / ".claude.json", broken);
        EXPECT_FALSE(StatusLineStore::liveAccount(main, home.path(), why)) << broken;
    }
}

} // namespace
