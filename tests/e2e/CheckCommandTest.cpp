#include "AppConfig.h"

#include "TempDir.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::runProcess;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

class CheckCommand : public testing::Test {
protected:
    TempDir home;
    fs::path configFile = home / ".local/share/ulmet/config.json";

    testsupport::ProcessResult run(std::vector<std::string> args,
                                   std::map<std::string, std::string> extraEnv = {}) {
        args.insert(args.begin(), ULMET_BINARY);
        std::map<std::string, std::string> env{{"HOME", home.path().string()}, {"PATH", "/usr/bin:/bin"}};
        if (const char* asan = std::getenv("ASAN_OPTIONS"))
            env["ASAN_OPTIONS"] = asan;
        for (auto& [k, v] : extraEnv)
            env[k] = v;
        return runProcess(args, env);
    }
};

TEST_F(CheckCommand, FirstRunDetectsProfilesAndListsThem) {
    fs::create_directories(home / ".claude");
    fs::create_directories(home / ".claude-work");
    fs::create_directories(home / "elsewhere");
    fs::create_directory_symlink(home / "elsewhere", home / ".claude-alt");
    writeFile(home / ".claude-notes", "");

    const auto result = run({"--check"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "ulmet --check\n"
                          "config: " +
                              configFile.string() +
                              "\n"
                              "profiles: 3\n"
                              "\n"
                              "== main [Claude] (~/.claude) [active]\n"
                              "\n"
                              "== alt [Claude] (~/.claude-alt)\n"
                              "\n"
                              "== work [Claude] (~/.claude-work)\n");
    const auto text = readFile(configFile);
    ASSERT_TRUE(text);
    const auto config = AppConfig::decode(*text);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->profiles.size(), 3u);
    EXPECT_EQ(config->encode(), text) << "the file decodes back to the same configuration";

    // A second run reads the same file and prints the same report.
    EXPECT_EQ(run({"--check"}).out, result.out);
    EXPECT_EQ(readFile(configFile), text);
}

TEST_F(CheckCommand, SwitchOrderAndPositionDoNotMatter) {
    const auto a = run({"--raw", "--check"});
    const auto b = run({"--check", "--raw"});
    const auto c = run({"--option", "--check"});
    EXPECT_EQ(a.exitCode, 0);
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.out, c.out);
    EXPECT_NE(a.out.find("== main [Claude] (~/.claude) [active]"), std::string::npos);
}

TEST_F(CheckCommand, OnlyTheWholeArgumentSelectsTheCheck) {
    for (const char* arg : {"--check=1", "-check", "--CHECK", "check", "--raw"}) {
        const auto result = run({arg});
        EXPECT_EQ(result.exitCode, 2) << arg;
        EXPECT_EQ(result.out, "") << arg;
        EXPECT_FALSE(fs::exists(configFile)) << arg << ": no configuration outside the check";
    }
}

TEST_F(CheckCommand, NoProfilesPrintsThreeLines) {
    writeFile(configFile, R"({"profiles": []})");
    const auto result = run({"--check"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "ulmet --check\nconfig: " + configFile.string() + "\nprofiles: 0\n");
}

TEST_F(CheckCommand, HeadersShowProviderStoredDirectoryAndNoActiveMarkerWithoutActiveProfile) {
    fs::path dataHome = home / "xdg";
    writeFile(dataHome / "ulmet/config.json", R"({"profiles": [
        {"name": "codex", "provider": "codex", "configDir": "~/.codex"},
        {"name": "仕事", "configDir": "/abs/path"}]})");
    const auto result = run({"--check"}, {{"XDG_DATA_HOME", dataHome.string()}});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "ulmet --check\n"
                          "config: " +
                              (dataHome / "ulmet/config.json").string() +
                              "\n"
                              "profiles: 2\n"
                              "\n== codex [Codex] (~/.codex)\n"
                              "\n== 仕事 [Claude] (/abs/path)\n");
}

TEST_F(CheckCommand, DamagedConfigurationIsRepairedAndKept) {
    const std::string damaged("\x00\x01garbage", 9);
    writeFile(configFile, damaged);
    const auto result = run({"--check"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("profiles: 1\n"), std::string::npos);
    EXPECT_EQ(readFile(configFile.string() + ".corrupt"), damaged);
}

} // namespace
