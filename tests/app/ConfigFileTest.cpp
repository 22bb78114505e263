// config.json while the store runs: the person's edits taken without a restart, a broken one kept
// and left as written, the saves held back until it is corrected or restored.

#include "StoreFixture.h"

#include <sys/stat.h>

using namespace storetest;

namespace {

class ConfigFileTest : public StoreTest {
protected:
    fs::path file = configDir / "config.json";
    fs::path corrupt = configDir / "config.json.corrupt";
    const std::string shownFile = "~/.local/share/ulmet/config.json";

    // The person's editor: writes into the file, or writes a new file and renames it over it.
    void editInPlace(const std::string& text) {
        writeFile(file, text);
        sleeper.advance(seconds(1));
    }
    void editByRename(const std::string& text) {
        writeFile(configDir / ".config.json.swp", text);
        fs::rename(configDir / ".config.json.swp", file);
        sleeper.advance(seconds(1));
    }
    std::string fileText() { return readFile(file).value_or("<none>"); }
    std::string banner() { return store->configFaultText().toStdString(); }
    std::string bannerFirstLine() { return banner().substr(0, banner().find('\n')); }
    // The configuration's text with the interval's value as a hand would write it.
    static std::string withInterval(const AppConfig& config, const std::string& interval) {
        std::string text = *config.encode();
        const std::string from = "\"pollIntervalSec\": 60";
        text.replace(text.find(from), from.size(), "\"pollIntervalSec\": " + interval);
        return text;
    }
    // A configuration written twice, so that the backup holds it too.
    AppConfig savedWithBackup(const std::string& name) {
        AppConfig config;
        config.profiles = {claude(name)};
        ConfigStore::save(config, configDir);
        ConfigStore::save(config, configDir);
        return config;
    }
};

TEST_F(ConfigFileTest, TwoBrokenEditsAreEachKeptLeftAsWrittenAndToldOnce) {
    AppConfig config;
    config.profiles = {claude("a")};
    start(config);
    finishCycle();
    const AppConfig running = store->config();

    const std::string first = withInterval(running, "30,,");
    editInPlace(first);
    ASSERT_TRUE(store->configFault());
    EXPECT_EQ(fileText(), first) << "the person's text stays";
    EXPECT_EQ(readFile(corrupt), first);
    EXPECT_EQ(store->config(), running) << "the last configuration runs on";
    const ConfigStore::Fault at = *store->configFault();
    ASSERT_EQ(at.kind, ConfigStore::Fault::Kind::syntax);
    const std::size_t line = 1 + std::count(first.begin(), first.begin() + first.find(",,"), '\n');
    EXPECT_EQ(at.line, line);
    EXPECT_EQ(banner(),
              shownFile + " の " + std::to_string(line) + " 行 25 列目に JSON の誤りがあります\n" +
                  "バックアップの設定で動作中です。ファイルを直すか「バックアップに戻す」を選ぶまで、"
                  "設定の変更は保存されません");
    ASSERT_EQ(notifications.size(), 1u);
    EXPECT_EQ(notifications[0].first, "設定ファイルに誤りがあります");
    EXPECT_EQ(notifications[0].second,
              bannerFirstLine() +
                  "\nバックアップの設定で動作中です。誤りのある内容は config.json.corrupt に残しています。");

    // A settings change and the cycles' saves leave it alone.
    AppConfig changed = store->config();
    changed.menuWeekEnabled = true;
    store->setConfig(changed);
    store->scheduleSave();
    sleeper.advance(seconds(130));
    EXPECT_EQ(fileText(), first);

    const std::string second = withInterval(running, "75%");
    editByRename(second);
    EXPECT_EQ(fileText(), second);
    EXPECT_EQ(readFile(corrupt), second);
    EXPECT_EQ(readFile(configDir / "config.json.corrupt.1"), first);
    EXPECT_EQ(bannerFirstLine(),
              shownFile + " の " + std::to_string(line) + " 行 24 列目に JSON の誤りがあります");
    EXPECT_EQ(notifications.size(), 2u);

    editInPlace(first); // an undo in the editor: already kept, already told
    EXPECT_EQ(notifications.size(), 2u);
    EXPECT_FALSE(fs::exists(configDir / "config.json.corrupt.2"));
    EXPECT_EQ(fileText(), first);
}

TEST_F(ConfigFileTest, ACorrectionIsTakenWithoutARestart) {
    const AppConfig backup = savedWithBackup("from-backup");
    const std::string broken = "{\n  \"pollIntervalSec\": 30,,\n}\n";
    writeFile(file, broken);
    start();
    finishCycle();
    EXPECT_EQ(store->config(), backup);
    EXPECT_EQ(bannerFirstLine(), shownFile + " の 2 行 25 列目に JSON の誤りがあります");
    EXPECT_EQ(store->configRestoreText().toStdString(), "バックアップに戻す");
    EXPECT_EQ(readFile(corrupt), broken) << "kept at start";
    EXPECT_EQ(notifications.size(), 1u);

    AppConfig corrected = backup;
    corrected.profiles.push_back(claude("added-by-hand"));
    corrected.pollIntervalSec = 300;
    editByRename(*corrected.encode());
    EXPECT_FALSE(store->configFault());
    EXPECT_EQ(banner(), "");
    EXPECT_EQ(store->config(), corrected);

    // From now on its saves go to the file again, and a valid hand edit is taken, not saved over.
    store->addProfile(Provider::codex);
    sleeper.advance(seconds(1));
    EXPECT_EQ(savedConfig().profiles.size(), 3u);
    AppConfig byHand = savedConfig();
    byHand.profiles[0].name = "renamed-by-hand";
    editInPlace(*byHand.encode());
    EXPECT_EQ(store->config().profiles[0].name, "renamed-by-hand");
    sleeper.advance(seconds(400));
    EXPECT_EQ(savedConfig().profiles[0].name, "renamed-by-hand");
}

TEST_F(ConfigFileTest, GoingBackToTheBackupKeepsTheBrokenVersion) {
    const AppConfig backup = savedWithBackup("from-backup");
    writeFile(corrupt, "an older mistake");
    const std::string broken = R"({"profiles": [{"name": "x", "provider": "gemini"}]})";
    writeFile(file, broken);
    start();
    finishCycle();
    EXPECT_EQ(bannerFirstLine(), shownFile + " の「profiles[0].provider」の値が正しくありません");

    EXPECT_TRUE(store->restoreConfig());
    EXPECT_EQ(savedConfig(), backup);
    EXPECT_EQ(readFile(corrupt), broken);
    EXPECT_EQ(readFile(configDir / "config.json.corrupt.1"), "an older mistake");
    EXPECT_FALSE(store->configFault());
    EXPECT_EQ(banner(), "");
    EXPECT_EQ(store->lastActionMessage().value_or(""),
              "設定を書き戻しました。誤りのあった内容は config.json.corrupt に残しています");
    EXPECT_FALSE(store->restoreConfig()) << "nothing to restore any more";
    sleeper.advance(seconds(2));
    EXPECT_EQ(notifications.size(), 1u) << "its own write is no new version";
}

TEST_F(ConfigFileTest, WithoutABackupTheDefaultsRunAndCanBeWritten) {
    fs::create_directories(home / ".claude-x");
    writeFile(file, "");
    start();
    finishCycle();
    EXPECT_EQ(banner(),
              shownFile +
                  " は空です\n既定の設定で動作中です。ファイルを直すか「既定の設定に戻す」を選ぶまで、"
                  "設定の変更は保存されません");
    EXPECT_EQ(fileText(), "");
    EXPECT_TRUE(store->restoreConfig());
    EXPECT_EQ(savedConfig().profiles[0].name, "x");
    EXPECT_EQ(store->lastActionMessage().value_or(""), "設定を書き戻しました");
}

TEST_F(ConfigFileTest, AFileThatCannotBeReadIsNeverWrittenOver) {
    fs::create_directories(configDir);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    start();
    finishCycle();
    EXPECT_EQ(
        banner(),
        shownFile +
            " を読み込めません\n既定の設定で動作中です。ファイルを直すまで、設定の変更は保存されません");
    EXPECT_EQ(store->configRestoreText().toStdString(), "") << "it cannot be kept, so it is not restored";
    EXPECT_FALSE(store->restoreConfig());
    store->addProfile(Provider::codex);
    sleeper.advance(seconds(120));
    EXPECT_TRUE(fs::is_fifo(file));
    EXPECT_EQ(notifications.size(), 1u);

    fs::remove(file);
    AppConfig fixed;
    fixed.profiles = {claude("fixed")};
    editByRename(*fixed.encode());
    EXPECT_EQ(banner(), "");
    EXPECT_EQ(store->config(), fixed);
}

} // namespace
