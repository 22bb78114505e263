#include "config/ConfigStore.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

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

TEST_F(ConfigStoreTest, DamagedFileIsSetAsideAndTheBackupRestored) {
    const AppConfig backup = configWith({"from-backup"});
    writeFile(bak, *backup.encode());
    writeFile(file, "{\"profiles\": [");
    const ConfigStore::Loaded loaded = ConfigStore::load(dir, home);
    EXPECT_EQ(loaded.config, backup);
    EXPECT_FALSE(loaded.fileLeftAlone) << "set aside and restored: the file may be written again";
    EXPECT_EQ(readFile(corrupt), "{\"profiles\": [");
    EXPECT_EQ(AppConfig::decode(*readFile(file)), backup);
}

// Every kind of damage: set aside as config.json.corrupt, replaced by a detected default.
class ConfigStoreDamage : public ConfigStoreTest, public testing::WithParamInterface<std::string> {};

TEST_P(ConfigStoreDamage, OriginalKeptAndDefaultWritten) {
    fs::create_directories(home / ".claude-x");
    writeFile(file, GetParam());
    const AppConfig config = ConfigStore::loadOrCreate(dir, home);
    EXPECT_EQ(profileNames(config), std::vector<std::string>{"x"});
    EXPECT_EQ(readFile(corrupt), GetParam());
    EXPECT_EQ(fileMode(corrupt), 0600u);
    EXPECT_EQ(ConfigStore::loadOrCreate(dir, home), config);
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

std::string damageName(const testing::TestParamInfo<std::string>& info) {
    static const char* const names[] = {"Empty", "RandomBytes",     "Array",
                                        "Null",  "UnknownProvider", "WrongType"};
    return names[info.index];
}

INSTANTIATE_TEST_SUITE_P(Kinds, ConfigStoreDamage,
                         testing::Values(std::string(), randomBytes(), std::string("[]"), std::string("null"),
                                         std::string(R"({"profiles":[{"name":"a","provider":"gemini"}]})"),
                                         std::string(R"({"pollIntervalSec":"often"})")),
                         damageName);

TEST_F(ConfigStoreTest, FiftyMegabytesOfNestingIsSetAsideLikeAnyDamage) {
    const std::string deep(50u << 20, '[');
    writeFile(file, deep);
    const AppConfig config = ConfigStore::loadOrCreate(dir, home);
    EXPECT_EQ(config.profiles.size(), 1u);
    EXPECT_EQ(fs::file_size(corrupt), deep.size());
    EXPECT_TRUE(AppConfig::decode(*readFile(file)));
}

TEST_F(ConfigStoreTest, AnOlderCorruptCopyIsNeverReplaced) {
    writeFile(file, "first damage");
    ConfigStore::loadOrCreate(dir, home);
    writeFile(file, "second damage");
    ConfigStore::loadOrCreate(dir, home);
    EXPECT_EQ(readFile(corrupt), "first damage");
    EXPECT_TRUE(AppConfig::decode(*readFile(file)));
}

TEST_F(ConfigStoreTest, DamagedFileAndDamagedBackupFallBackToDetection) {
    writeFile(file, "x");
    writeFile(bak, "");
    const AppConfig config = ConfigStore::loadOrCreate(dir, home);
    EXPECT_EQ(profileNames(config), std::vector<std::string>{"main"});
    EXPECT_EQ(readFile(corrupt), "x");
}

TEST_F(ConfigStoreTest, AFileThatCannotBeReadOrCopiedIsNotReplaced) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    writeFile(file, *configWith({"precious"}).encode());
    fs::permissions(file, fs::perms::none);
    const AppConfig config = ConfigStore::loadOrCreate(dir, home);
    EXPECT_FALSE(config.profiles.empty());
    fs::permissions(file, fs::perms::owner_read);
    EXPECT_EQ(profileNames(*AppConfig::decode(*readFile(file))), std::vector<std::string>{"precious"});
}

TEST_F(ConfigStoreTest, AFifoInPlaceOfTheFileNeitherBlocksNorIsReplaced) {
    fs::create_directories(dir);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    const auto loaded = ConfigStore::load(dir, home);
    EXPECT_EQ(loaded.config.profiles.size(), 1u);
    EXPECT_TRUE(loaded.fileLeftAlone) << "the caller must not save over it";
    EXPECT_TRUE(fs::is_fifo(file));
    EXPECT_FALSE(fs::exists(corrupt));
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
    // Replacing a damaged file leaves it as it was too.
    writeFile(file, "garbage");
    ConfigStore::save(configWith({"d"}), dir);
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
