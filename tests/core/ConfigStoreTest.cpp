#include "config/ConfigStore.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testsupport::fileMode;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

class ConfigStoreTest : public testing::Test {
protected:
    TempDir tmp;
    fs::path home = tmp / "home";
    fs::path dir = tmp / "data" / "ulmet";
    fs::path file = dir / "config.json";
    fs::path bak = dir / "config.json.bak";
    fs::path corrupt = dir / "config.json.corrupt";

    void SetUp() override { fs::create_directories(home); }

    static AppConfig configWith(std::initializer_list<const char*> names) {
        AppConfig config;
        for (const char* n : names) {
            ProfileConfig p;
            p.name = n;
            config.profiles.push_back(p);
        }
        return config;
    }
    std::vector<std::string> profileNames(const AppConfig& config) {
        std::vector<std::string> names;
        for (const auto& p : config.profiles)
            names.push_back(p.name);
        return names;
    }
    // Every file of the directory with its content.
    std::map<std::string, std::optional<std::string>> snapshot() {
        std::map<std::string, std::optional<std::string>> files;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            files[e.path().lexically_relative(dir).string()] =
                e.is_regular_file() ? readFile(e.path()) : std::nullopt;
        return files;
    }
    std::vector<std::string> filesInDir() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST(ConfigStoreBaseDir, FollowsXdgDataHomeOnlyWhenAbsolute) {
    EXPECT_EQ(ConfigStore::baseDirFor("/x/data", "/home/u"), fs::path("/x/data/ulmet"));
    EXPECT_EQ(ConfigStore::baseDirFor(nullptr, "/home/u"), fs::path("/home/u/.local/share/ulmet"));
    EXPECT_EQ(ConfigStore::baseDirFor("", "/home/u"), fs::path("/home/u/.local/share/ulmet"));
    EXPECT_EQ(ConfigStore::baseDirFor("relative/data", "/home/u"), fs::path("/home/u/.local/share/ulmet"));
}

TEST_F(ConfigStoreTest, DetectsClaudeDirectoriesAndLinksSortedWithCyclingColours) {
    fs::create_directories(home / ".claude");
    fs::create_directories(home / ".claude-work");
    fs::create_directories(tmp / "elsewhere");
    fs::create_directory_symlink(tmp / "elsewhere", home / ".claude-alt");
    fs::create_symlink(tmp / "missing", home / ".claude-dangling");
    writeFile(home / ".claude-notes", "not a directory");
    fs::create_directories(home / ".claudex");
    fs::create_directories(home / "claude");

    const AppConfig config = ConfigStore::loadOrCreate(dir, home);
    EXPECT_EQ(profileNames(config), (std::vector<std::string>{"main", "alt", "work"}));
    EXPECT_EQ(config.profiles[0].configDir, "~/.claude");
    EXPECT_EQ(config.profiles[1].configDir, "~/.claude-alt");
    EXPECT_EQ(config.profiles[2].configDir, "~/.claude-work");
    EXPECT_EQ(config.profiles[0].colorName, "orange");
    EXPECT_EQ(config.profiles[1].colorName, "blue");
    EXPECT_EQ(config.profiles[2].colorName, "green");
    EXPECT_EQ(config.activeProfileID, config.profiles[0].id);
    EXPECT_TRUE(config.autoReadLiveClaude);
    EXPECT_EQ(config.pollIntervalSec, 60);

    EXPECT_EQ(filesInDir(), std::vector<std::string>{"config.json"}) << "no backup on a first run";
    EXPECT_EQ(ConfigStore::loadOrCreate(dir, home), config) << "the file decodes back to the same value";
}

TEST_F(ConfigStoreTest, CodePointOrderEmptySuffixAndElevenColours) {
    for (const char* n : {".claude-b", ".claude-B", ".claude-", ".claude-é", ".claude-1", ".claude-2",
                          ".claude-3", ".claude-4", ".claude-5", ".claude-6", ".claude-7", ".claude-8"})
        fs::create_directories(home / n);
    const AppConfig config = ConfigStore::detectDefault(home);
    EXPECT_EQ(profileNames(config),
              (std::vector<std::string>{"", "1", "2", "3", "4", "5", "6", "7", "8", "B", "b", "é"}));
    EXPECT_EQ(config.profiles[10].colorName, "orange");
    EXPECT_EQ(config.profiles[11].colorName, "blue");
    EXPECT_EQ(config.profiles[0].configDir, "~/.claude-");
}

TEST_F(ConfigStoreTest, NoClaudeDirectoryGivesOneActiveMainProfile) {
    const AppConfig config = ConfigStore::loadOrCreate(dir, tmp / "no-such-home");
    ASSERT_EQ(config.profiles.size(), 1u);
    EXPECT_EQ(config.profiles[0].name, "main");
    EXPECT_EQ(config.profiles[0].configDir, "~/.claude");
    EXPECT_EQ(config.profiles[0].colorName, "orange");
    EXPECT_EQ(config.activeProfileID, config.profiles[0].id);
    EXPECT_TRUE(fs::exists(file));
}

TEST_F(ConfigStoreTest, AValidFileIsReturnedUnchangedAndNotRewritten) {
    const std::string text = R"({"profiles":[{"name":"x","id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f"}]})";
    writeFile(file, text);
    const AppConfig config = ConfigStore::loadOrCreate(dir, home);
    EXPECT_EQ(profileNames(config), std::vector<std::string>{"x"});
    EXPECT_EQ(readFile(file), text);
    EXPECT_EQ(filesInDir(), std::vector<std::string>{"config.json"});
}

TEST_F(ConfigStoreTest, ABrokenFileIsLeftAsWrittenAndTheBackupRunsInMemory) {
    const AppConfig backup = configWith({"from-backup"});
    writeFile(bak, *backup.encode());
    const std::string edited = "{\n  \"pollIntervalSec\": 30,,\n  \"profiles\": []\n}\n";
    writeFile(file, edited);
    const auto before = snapshot();
    const ConfigStore::Loaded loaded = ConfigStore::load(dir, home);
    EXPECT_EQ(loaded.config, backup);
    EXPECT_EQ(loaded.source, ConfigStore::Loaded::Source::backup);
    ASSERT_TRUE(loaded.fault);
    EXPECT_EQ(loaded.fault->kind, ConfigStore::Fault::Kind::syntax);
    EXPECT_EQ(loaded.bytes, edited);
    EXPECT_EQ(snapshot(), before) << "neither replaced nor copied: loading writes nothing";
}

// Every kind of fault: the file is left exactly as it is and a detected default runs in memory.
struct Damage {
    const char* name;
    std::string bytes;
    ConfigStore::Fault::Kind kind;
    std::string member;
};

class ConfigStoreDamage : public ConfigStoreTest, public testing::WithParamInterface<Damage> {};

TEST_P(ConfigStoreDamage, LeftAloneAndNamed) {
    fs::create_directories(home / ".claude-x");
    writeFile(file, GetParam().bytes);
    const auto before = snapshot();
    const ConfigStore::Loaded loaded = ConfigStore::load(dir, home);
    EXPECT_EQ(profileNames(loaded.config), std::vector<std::string>{"x"});
    EXPECT_EQ(loaded.source, ConfigStore::Loaded::Source::defaults);
    ASSERT_TRUE(loaded.fault);
    EXPECT_EQ(loaded.fault->kind, GetParam().kind);
    EXPECT_EQ(loaded.fault->member, GetParam().member);
    EXPECT_EQ(snapshot(), before);
    EXPECT_FALSE(ConfigStore::save(loaded.config, dir)) << "a save does not write over it either";
    EXPECT_EQ(snapshot(), before);
}

std::string randomBytes() {
    std::string s;
    unsigned x = 12345;
    for (int i = 0; i < 4096; ++i) {
        x = x * 1103515245 + 12345;
        s.push_back(static_cast<char>(x >> 16));
    }
    return s;
}

using Kind = ConfigStore::Fault::Kind;
INSTANTIATE_TEST_SUITE_P(
    Kinds, ConfigStoreDamage,
    testing::Values(Damage{"Empty", "", Kind::empty, ""},
                    Damage{"RandomBytes", randomBytes(), Kind::syntax, ""},
                    Damage{"Array", "[]", Kind::content, ""}, Damage{"Null", "null", Kind::content, ""},
                    Damage{"UnknownProvider", R"({"profiles":[{"name":"a","provider":"gemini"}]})",
                           Kind::content, "profiles[0].provider"},
                    Damage{"WrongType", R"({"pollIntervalSec":"often"})", Kind::content, "pollIntervalSec"}),
    [](const testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

// Where a hand edit went wrong, as the person's editor counts lines and columns.
struct Mistake {
    const char* name;
    std::string text;
    std::size_t line, column;
};

class ConfigStoreSyntax : public ConfigStoreTest, public testing::WithParamInterface<Mistake> {};

TEST_P(ConfigStoreSyntax, LineAndColumnOfTheMistake) {
    writeFile(file, GetParam().text);
    const ConfigStore::Reading reading = ConfigStore::read(dir);
    ASSERT_TRUE(reading.fault);
    EXPECT_EQ(reading.fault->kind, Kind::syntax);
    EXPECT_EQ(reading.fault->line, GetParam().line);
    EXPECT_EQ(reading.fault->column, GetParam().column);
    EXPECT_EQ(reading.bytes, GetParam().text);
    EXPECT_FALSE(reading.config);
}

INSTANTIATE_TEST_SUITE_P(
    Mistakes, ConfigStoreSyntax,
    testing::Values(
        Mistake{"DoubleComma", "{\n  \"pollIntervalSec\": 30,,\n  \"profiles\": []\n}\n", 2, 25},
        Mistake{"PercentSign", "{\n  \"autoSwitchThreshold\": 75%,\n  \"profiles\": []\n}\n", 2, 28},
        // The end of the string it did not expect; "é" is two bytes and one column, and
        // the line before ends in CR LF.
        Mistake{"AfterAnAccent", "{\r\n  \"profiles\": [{\"name\": \"é\" \"x\"}]\r\n}\r\n", 2, 31},
        Mistake{"CutShort", "{\n  \"profiles\": [\n", 3, 1},
        Mistake{"NulByte", std::string("{\n \0}", 5), 2, 2}),
    [](const testing::TestParamInfo<Mistake>& info) { return std::string(info.param.name); });

TEST_F(ConfigStoreTest, TheDescriptionNamesTheFileAndWhere) {
    const std::string path = file.string();
    EXPECT_EQ(ConfigStore::describe({Kind::syntax, 2, 25, {}}, path),
              path + " の 2 行 25 列目に JSON の誤りがあります");
    EXPECT_EQ(ConfigStore::describe({Kind::syntax, 0, 0, {}}, path), path + " は JSON として読めません");
    EXPECT_EQ(ConfigStore::describe({Kind::content, 0, 0, "profiles[1].provider"}, path),
              path + " の「profiles[1].provider」の値が正しくありません");
    EXPECT_EQ(ConfigStore::describe({Kind::empty, 0, 0, {}}, path), path + " は空です");
    EXPECT_EQ(ConfigStore::describe({Kind::unreadable, 0, 0, {}}, path), path + " を読み込めません");
}

TEST_F(ConfigStoreTest, FiftyMegabytesOfNestingIsAFaultWithoutAPlace) {
    const std::string deep(50u << 20, '[');
    writeFile(file, deep);
    const auto loaded = ConfigStore::load(dir, home);
    EXPECT_EQ(loaded.config.profiles.size(), 1u);
    ASSERT_TRUE(loaded.fault);
    EXPECT_EQ(loaded.fault->kind, Kind::syntax);
    EXPECT_EQ(loaded.fault->line, 0u);
    EXPECT_EQ(fs::file_size(file), deep.size());
}

TEST_F(ConfigStoreTest, DamagedFileAndDamagedBackupFallBackToDetection) {
    writeFile(file, "x");
    writeFile(bak, "");
    const auto loaded = ConfigStore::load(dir, home);
    EXPECT_EQ(profileNames(loaded.config), std::vector<std::string>{"main"});
    EXPECT_EQ(loaded.source, ConfigStore::Loaded::Source::defaults);
    EXPECT_EQ(readFile(file), "x");
}

TEST_F(ConfigStoreTest, AFileThatCannotBeReadIsNotReplaced) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    writeFile(file, *configWith({"precious"}).encode());
    fs::permissions(file, fs::perms::none);
    const auto loaded = ConfigStore::load(dir, home);
    EXPECT_FALSE(loaded.config.profiles.empty());
    ASSERT_TRUE(loaded.fault);
    EXPECT_EQ(loaded.fault->kind, Kind::unreadable);
    EXPECT_FALSE(loaded.bytes);
    EXPECT_FALSE(ConfigStore::save(loaded.config, dir));
    EXPECT_FALSE(ConfigStore::replaceBroken(loaded.config, dir)) << "nothing of it could be kept";
    fs::permissions(file, fs::perms::owner_read);
    EXPECT_EQ(profileNames(*AppConfig::decode(*readFile(file))), std::vector<std::string>{"precious"});
}

TEST_F(ConfigStoreTest, AFifoInPlaceOfTheFileNeitherBlocksNorIsReplaced) {
    fs::create_directories(dir);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    const auto loaded = ConfigStore::load(dir, home);
    EXPECT_EQ(loaded.config.profiles.size(), 1u);
    ASSERT_TRUE(loaded.fault);
    EXPECT_EQ(loaded.fault->kind, Kind::unreadable);
    ConfigStore::save(loaded.config, dir);
    EXPECT_TRUE(fs::is_fifo(file));
    EXPECT_EQ(filesInDir(), std::vector<std::string>{"config.json"});
}

// The broken versions the running program keeps: each one, newest first, never one twice, the
// oldest dropped beyond five, none ever written over.
TEST_F(ConfigStoreTest, EachBrokenVersionIsKeptOnce) {
    fs::create_directories(dir);
    const std::string first = "{\"pollIntervalSec\": 30,,}";
    const std::string second = "{\"autoSwitchThreshold\": 75%,}";
    EXPECT_EQ(ConfigStore::keepBroken(dir, first), corrupt);
    EXPECT_EQ(ConfigStore::keepBroken(dir, second), corrupt);
    EXPECT_EQ(readFile(corrupt), second);
    EXPECT_EQ(readFile(dir / "config.json.corrupt.1"), first);
    EXPECT_EQ(fileMode(corrupt), 0600u);
    EXPECT_EQ(ConfigStore::keepBroken(dir, first), dir / "config.json.corrupt.1") << "already kept";
    EXPECT_EQ(filesInDir(), (std::vector<std::string>{"config.json.corrupt", "config.json.corrupt.1"}));
    EXPECT_FALSE(ConfigStore::keepBroken(dir, "")) << "nothing to keep";

    for (int i = 3; i <= 7; ++i)
        ConfigStore::keepBroken(dir, "version " + std::to_string(i));
    EXPECT_EQ(filesInDir(), (std::vector<std::string>{"config.json.corrupt", "config.json.corrupt.1",
                                                      "config.json.corrupt.2", "config.json.corrupt.3",
                                                      "config.json.corrupt.4"}));
    EXPECT_EQ(readFile(corrupt), "version 7");
    EXPECT_EQ(readFile(dir / "config.json.corrupt.4"), "version 3") << "the first two are dropped";
}

TEST_F(ConfigStoreTest, KeepingMovesOnlyUpToAGapAndNeverWritesOverAVersion) {
    writeFile(corrupt, "newer");
    writeFile(dir / "config.json.corrupt.2", "older");
    EXPECT_EQ(ConfigStore::keepBroken(dir, "newest"), corrupt);
    EXPECT_EQ(readFile(corrupt), "newest");
    EXPECT_EQ(readFile(dir / "config.json.corrupt.1"), "newer");
    EXPECT_EQ(readFile(dir / "config.json.corrupt.2"), "older");
    // A place that cannot be cleared: nothing is kept, nothing is moved.
    fs::remove(dir / "config.json.corrupt.2");
    for (int i = 2; i < ConfigStore::kKeptVersions; ++i)
        writeFile(ConfigStore::keptVersion(dir, i), "v" + std::to_string(i));
    fs::remove(ConfigStore::keptVersion(dir, ConfigStore::kKeptVersions - 1));
    fs::create_directories(ConfigStore::keptVersion(dir, ConfigStore::kKeptVersions - 1) / "not empty");
    EXPECT_FALSE(ConfigStore::keepBroken(dir, "more"));
    EXPECT_EQ(readFile(corrupt), "newest");
    EXPECT_EQ(readFile(dir / "config.json.corrupt.1"), "newer");
}

TEST_F(ConfigStoreTest, ReplacingABrokenFileKeepsItFirst) {
    const std::string edited = "{\"autoSwitchThreshold\": 75%,}";
    writeFile(file, edited);
    writeFile(corrupt, "an earlier mistake");
    const AppConfig config = configWith({"restored"});
    const auto replaced = ConfigStore::replaceBroken(config, dir);
    ASSERT_TRUE(replaced);
    EXPECT_EQ(replaced->keptAs, corrupt);
    EXPECT_EQ(readFile(corrupt), edited);
    EXPECT_EQ(readFile(dir / "config.json.corrupt.1"), "an earlier mistake");
    EXPECT_EQ(readFile(file), replaced->bytes);
    EXPECT_EQ(AppConfig::decode(replaced->bytes), config);
    // Once it holds a configuration, it is the person's again: no replacing.
    EXPECT_FALSE(ConfigStore::replaceBroken(configWith({"other"}), dir));
    EXPECT_EQ(readFile(file), replaced->bytes);
}

TEST_F(ConfigStoreTest, AnEmptyFileIsReplacedWithoutACopy) {
    writeFile(file, "");
    const auto replaced = ConfigStore::replaceBroken(configWith({"a"}), dir);
    ASSERT_TRUE(replaced);
    EXPECT_FALSE(replaced->keptAs);
    EXPECT_EQ(filesInDir(), std::vector<std::string>{"config.json"});
}

TEST_F(ConfigStoreTest, ADirectoryInPlaceOfTheFileIsLeftAlone) {
    fs::create_directories(file / "inside");
    const AppConfig config = ConfigStore::loadOrCreate(dir, home);
    EXPECT_EQ(config.profiles.size(), 1u);
    EXPECT_TRUE(fs::is_directory(file / "inside"));
}

TEST_F(ConfigStoreTest, BackupFollowsOnlyAFileWithProfiles) {
    // Nothing to replace: no backup.
    ConfigStore::save(configWith({"a"}), dir);
    EXPECT_FALSE(fs::exists(bak));
    // Replacing a file with profiles: the backup holds exactly the new bytes.
    ConfigStore::save(configWith({"b"}), dir);
    EXPECT_EQ(readFile(bak), readFile(file));
    EXPECT_EQ(profileNames(*AppConfig::decode(*readFile(bak))), std::vector<std::string>{"b"});
    // Replacing a file with no profiles leaves the backup as it was.
    ConfigStore::save(configWith({}), dir);
    const auto bakBefore = readFile(bak);
    ConfigStore::save(configWith({"c"}), dir);
    EXPECT_EQ(readFile(bak), bakBefore);
    // A damaged file is not replaced at all.
    writeFile(file, "garbage");
    EXPECT_FALSE(ConfigStore::save(configWith({"d"}), dir));
    EXPECT_EQ(readFile(file), "garbage");
    EXPECT_EQ(readFile(bak), bakBefore);
}

TEST_F(ConfigStoreTest, SavingTheSameBytesAgainWritesNothing) {
    const AppConfig config = configWith({"a"});
    ConfigStore::save(config, dir);
    ConfigStore::save(config, dir); // makes the backup
    const auto inode = [](const fs::path& p) {
        struct stat st {};
        ::stat(p.c_str(), &st);
        return st.st_ino;
    };
    const auto fileBefore = inode(file);
    const auto bakBefore = inode(bak);
    ConfigStore::save(config, dir);
    EXPECT_EQ(inode(file), fileBefore);
    EXPECT_EQ(inode(bak), bakBefore);
    // A stale backup is still brought up to date.
    writeFile(bak, "stale");
    ConfigStore::save(config, dir);
    EXPECT_EQ(readFile(bak), readFile(file));
}

TEST_F(ConfigStoreTest, PrivateDirectoryAndFilesAndNoTemporaryLeftovers) {
    ConfigStore::save(configWith({"a"}), dir);
    ConfigStore::save(configWith({"b"}), dir);
    EXPECT_EQ(fileMode(dir), 0700u);
    EXPECT_EQ(fileMode(file), 0600u);
    EXPECT_EQ(fileMode(bak), 0600u);
    EXPECT_EQ(filesInDir(), (std::vector<std::string>{"config.json", "config.json.bak"}));
}

TEST_F(ConfigStoreTest, AProfileWithoutIdKeepsOneOnlyOnceSaved) {
    writeFile(file, R"({"profiles":[{"name":"a"}]})");
    const AppConfig first = ConfigStore::loadOrCreate(dir, home);
    const AppConfig second = ConfigStore::loadOrCreate(dir, home);
    EXPECT_NE(first.profiles[0].id, second.profiles[0].id);
    ConfigStore::save(second, dir);
    EXPECT_EQ(ConfigStore::loadOrCreate(dir, home).profiles[0].id, second.profiles[0].id);
}

TEST_F(ConfigStoreTest, AnUnwritableDirectoryStillGivesAConfiguration) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes everywhere";
    fs::create_directories(dir.parent_path());
    fs::permissions(dir.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
    fs::create_directories(home / ".claude");
    const AppConfig config = ConfigStore::loadOrCreate(dir, home);
    EXPECT_EQ(profileNames(config), std::vector<std::string>{"main"});
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(ConfigStoreTest, AnUnwritableDirectoryAsAFileStillGivesAConfiguration) {
    // Works as root too: a plain file where the directory should be.
    writeFile(dir, "in the way");
    const AppConfig config = ConfigStore::loadOrCreate(dir, home);
    EXPECT_EQ(config.profiles.size(), 1u);
    EXPECT_EQ(readFile(dir), "in the way");
}

} // namespace
