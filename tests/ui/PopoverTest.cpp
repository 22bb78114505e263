// The real panel QML, offscreen, against a store on fakes; items are found by object name.

#include "../app/StoreFixture.h"

#include "glyphs/GlyphPainter.h"
#include "glyphs/MenuGlyphs.h"
#include "models/ProfileListModel.h"
#include "platform/LaunchAtLogin.h"
#include "platform/Translations.h"
#include "popover/IconProvider.h"
#include "popover/PopoverWindow.h"
#include "scene/SceneWindows.h"

#include <QApplication>
#include <QFileInfo>
#include <QPainter>
#include <QQuickItem>
#include <QQuickView>
#include <QTest>

#include <QtQml/qqmlextensionplugin.h>
#include <sys/stat.h>

#include <algorithm>

Q_IMPORT_QML_PLUGIN(MeterKeeperPlugin)

using namespace storetest;

namespace {

class PopoverTest : public StoreTest {
protected:
    std::unique_ptr<ProfileListModel> model;
    PopoverActions actions;
    std::unique_ptr<PopoverWindow> popover;

    void open() {
        model = std::make_unique<ProfileListModel>(store.get());
        popover =
            std::make_unique<PopoverWindow>(store.get(), model.get(), &actions, PopoverWindow::Mode::window);
        popover->show();
        ASSERT_TRUE(popover->view()->rootObject()) << "the QML loaded";
        render();
    }
    void render() {
        sleeper.settle();
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        if (popover && popover->view())
            (void)popover->view()->grabWindow(); // polishes: positioners lay out now
    }
    void TearDown() override {
        popover.reset();
        model.reset();
        StoreTest::TearDown();
    }

    static void collect(QQuickItem* item, const QString& name, std::vector<QQuickItem*>& out) {
        if (item->objectName() == name)
            out.push_back(item);
        for (QQuickItem* child : item->childItems())
            collect(child, name, out);
    }
    std::vector<QQuickItem*> all(const QString& name, QQuickItem* within = nullptr) {
        std::vector<QQuickItem*> out;
        collect(within ? within : popover->view()->rootObject(), name, out);
        return out;
    }
    QQuickItem* one(const QString& name, QQuickItem* within = nullptr) {
        const auto found = all(name, within);
        return found.empty() ? nullptr : found.front();
    }
    QQuickItem* section(const std::string& profileName) {
        for (QQuickItem* s : all(QStringLiteral("profileSection")))
            if (s->property("name").toString().toStdString() == profileName)
                return s;
        return nullptr;
    }
    // The profile names in the order the panel shows them (top to bottom).
    std::vector<std::string> shownOrder() {
        auto sections = all(QStringLiteral("profileSection"));
        std::sort(sections.begin(), sections.end(),
                  [](QQuickItem* a, QQuickItem* b) { return a->y() < b->y(); });
        std::vector<std::string> names;
        for (QQuickItem* s : sections)
            names.push_back(s->property("name").toString().toStdString());
        return names;
    }
    void seed(const ProfileConfig& p, std::vector<UsageWindow> windows) {
        history.append(HistoryRecord{clock.now() - minutes(1), p.id, std::move(windows)});
    }
};

TEST_F(PopoverTest, BannersSwitchButtonsAndCodexSections) {
    AppConfig config;
    auto a = claude("a", "a@x");
    auto b = claude("b", "b@x");
    auto c = claude("c", "c@x");
    ProfileConfig codex = codexProfile();
    config.profiles = {a, b, c, codex};
    config.activeProfileID = a.id;
    slot(a, "tok-a");
    slot(c, "tok-c");
    writeFile(home / ".codex/sessions/s.jsonl",
              R"({"rate_limits":{"primary":{"used_percent":33,"window_minutes":300,"resets_at":4102444800},)"
              R"("secondary":{"used_percent":5,"window_minutes":10080,"resets_at":4102444800}}})"
              "\n");
    start(config);
    finishCycle();
    open();

    EXPECT_TRUE(one(QStringLiteral("keychainBanner"))->isVisible());
    EXPECT_FALSE(one(QStringLiteral("enrollBanner"))->isVisible());
    EXPECT_EQ(one(QStringLiteral("errorLabel"), section("b"))->property("text").toString(),
              QStringLiteral("未接続 — 「接続」で認証してください"));

    await(sleeper, store->connectKeychain());
    render();
    EXPECT_FALSE(one(QStringLiteral("keychainBanner"))->isVisible()) << "gone once connected";

    auto switchOf = [&](const std::string& name) {
        return one(QStringLiteral("switchButton"), section(name));
    };
    EXPECT_FALSE(switchOf("a")->isEnabled());
    EXPECT_EQ(section("a")->property("switchTip").toString(), QStringLiteral("使用中のアカウントです"));
    EXPECT_FALSE(switchOf("b")->isEnabled());
    EXPECT_EQ(section("b")->property("switchTip").toString(),
              QStringLiteral("未取り込みのため切替できません"));
    EXPECT_TRUE(switchOf("c")->isEnabled());
    EXPECT_EQ(section("c")->property("switchTip").toString(), QStringLiteral("このアカウントに切り替え"));
    EXPECT_TRUE(one(QStringLiteral("activeBadge"), section("a"))->isVisible());

    EXPECT_FALSE(switchOf("codex")->isVisible());
    EXPECT_EQ(one(QStringLiteral("providerLabel"), section("codex"))->property("text").toString(),
              QStringLiteral("Codex"));
    std::vector<QString> keys;
    for (QQuickItem* cell : all(QStringLiteral("windowCell"), section("codex")))
        keys.push_back(cell->property("key").toString());
    EXPECT_EQ(keys, (std::vector<QString>{QStringLiteral("codex_5h"), QStringLiteral("codex_week")}));
    EXPECT_FALSE(one(QStringLiteral("upButton"), section("a"))->isEnabled());
    EXPECT_FALSE(one(QStringLiteral("downButton"), section("codex"))->isEnabled());
}

// A config.json the person broke: the banner names the file and the place, its button writes the
// backup over it (the broken version kept), and it goes.
TEST_F(PopoverTest, TheConfigurationBannerAndGoingBackToTheBackup) {
    AppConfig backup;
    backup.keychainConnected = true;
    backup.profiles = {claude("main", "me@example.com")};
    ConfigStore::save(backup, configDir);
    ConfigStore::save(backup, configDir);
    const std::string broken = "{\n  \"pollIntervalSec\": 30,,\n}\n";
    writeFile(configDir / "config.json", broken);
    start();
    finishCycle();
    open();

    QQuickItem* banner = one(QStringLiteral("configBanner"));
    ASSERT_TRUE(banner);
    EXPECT_TRUE(banner->isVisible());
    EXPECT_EQ(banner->property("title").toString(), QStringLiteral("設定ファイルに誤りがあります"));
    const QString detail = one(QStringLiteral("bannerDetail"), banner)->property("text").toString();
    EXPECT_TRUE(detail.startsWith(
        QStringLiteral("~/.local/share/ulmet/config.json の 2 行 25 列目に JSON の誤りがあります\n")))
        << detail.toStdString();
    EXPECT_GT(one(QStringLiteral("bannerDetail"), banner)->height(), 30) << "wrapped, not cut";
    QQuickItem* button = one(QStringLiteral("bannerButton"), banner);
    EXPECT_EQ(button->property("text").toString(), QStringLiteral("バックアップに戻す"));

    QTest::mouseClick(popover->view(), Qt::LeftButton, {},
                      button->mapToScene(button->boundingRect().center()).toPoint());
    render();
    EXPECT_FALSE(banner->isVisible());
    EXPECT_EQ(savedConfig(), backup);
    EXPECT_EQ(readFile(configDir / "config.json.corrupt"), broken);
    EXPECT_EQ(one(QStringLiteral("messageLabel"))->property("text").toString(),
              QStringLiteral("設定を書き戻しました。誤りのあった内容は config.json.corrupt に残しています"));
}

TEST_F(PopoverTest, AheadOfPaceIsStrictAndTheTimeLeftMovesOnWithoutARefresh) {
    AppConfig config;
    auto fast = claude("fast", "f@x");
    auto steady = claude("steady", "s@x");
    config.profiles = {fast, steady};
    // Half of a five-hour window has passed.
    const Instant reset = clock.now() + minutes(150);
    seed(fast, {{"five_hour", 59, reset, 18000}});
    seed(steady, {{"five_hour", 58, reset, 18000}, {"seven_day", 69.5, std::nullopt, std::nullopt}});
    start(config);
    open();
    const QColor orange(0xff, 0x95, 0x00);
    auto percent = [&](const std::string& name, int i = 0) {
        return all(QStringLiteral("percentLabel"), section(name)).at(static_cast<std::size_t>(i));
    };
    EXPECT_EQ(percent("fast")->property("color").value<QColor>(), orange);
    EXPECT_NE(percent("steady")->property("color").value<QColor>(), orange);
    EXPECT_EQ(percent("steady", 1)->property("text").toString(), QStringLiteral("70%"));
    EXPECT_EQ(all(QStringLiteral("remainingLabel"), section("steady")).size(), 2u);
    EXPECT_FALSE(all(QStringLiteral("remainingLabel"), section("steady"))[1]->isVisible()) << "no reset time";
    EXPECT_FALSE(all(QStringLiteral("elapsedMarker"), section("steady"))[1]->isVisible()) << "no length";
    // Past half the window at more than half full: it fills before its reset, says the tooltip.
    EXPECT_TRUE(one(QStringLiteral("windowCell"), section("fast"))
                    ->property("forecast")
                    .toString()
                    .startsWith(QStringLiteral("このペースだと ")));
    EXPECT_EQ(all(QStringLiteral("windowCell"), section("steady"))[1]->property("forecast").toString(),
              QString())
        << "no reset time, no forecast";

    auto remaining = [&] {
        return one(QStringLiteral("remainingLabel"), section("fast"))->property("text").toString();
    };
    const QString before = remaining();
    clock.advance(minutes(31));
    QTest::qWait(0);
    auto* timer = popover->view()->rootObject()->findChild<QObject*>(QStringLiteral("clock"));
    ASSERT_TRUE(timer);
    EXPECT_TRUE(timer->property("running").toBool()) << "runs while shown";
    QMetaObject::invokeMethod(timer, "triggered");
    render();
    EXPECT_NE(remaining(), before);
    popover->hide();
    render();
    EXPECT_FALSE(timer->property("running").toBool()) << "and only then";
}

// A window manager places a window by the size it has when it is mapped: the panel has its real
// size before it is shown, not the 99 px of a layout that has not been worked out yet.
TEST_F(PopoverTest, ThePanelHasItsSizeBeforeItIsShown) {
    AppConfig config;
    config.profiles = {claude("one", "1@x"), claude("two", "2@x"), claude("three", "3@x")};
    start(config);
    finishCycle();
    model = std::make_unique<ProfileListModel>(store.get());
    popover =
        std::make_unique<PopoverWindow>(store.get(), model.get(), &actions, PopoverWindow::Mode::window);
    popover->show(); // no event has been processed since
    EXPECT_GT(popover->view()->height(), 250);
    const int mapped = popover->view()->height();
    render();
    EXPECT_EQ(popover->view()->height(), mapped) << "the size it was shown with is its size";
}

TEST_F(PopoverTest, DraggingTheThirdRowOverTheFirstReordersLiveAndSavesOnDrop) {
    AppConfig config;
    config.profiles = {claude("one", "1@x"), claude("two", "2@x"), claude("three", "3@x")};
    start(config);
    finishCycle();
    open();
    auto savedOrder = [&] {
        std::vector<std::string> names;
        for (const ProfileConfig& p : savedConfig().profiles)
            names.push_back(p.name);
        return names;
    };
    const std::vector<std::string> original{"one", "two", "three"};
    ASSERT_EQ(shownOrder(), original);
    QQuickView* view = popover->view();
    auto centre = [&](const std::string& name) {
        QQuickItem* s = section(name);
        return s->mapToScene(QPointF(s->width() / 2 - 60, 10)).toPoint();
    };
    const QPoint from = centre("three");
    const QPoint to = centre("one");
    QTest::mousePress(view, Qt::LeftButton, {}, from);
    for (int i = 1; i <= 10; ++i) {
        QTest::mouseMove(view, from + (to - from) * i / 10);
        render();
    }
    EXPECT_EQ(shownOrder(), (std::vector<std::string>{"three", "one", "two"})) << "live";
    EXPECT_EQ(savedOrder(), original) << "not saved while dragging";
    EXPECT_NEAR(section("three")->opacity(), 0.4, 0.01);
    QTest::mouseRelease(view, Qt::LeftButton, {}, to);
    render();
    EXPECT_EQ(savedOrder(), (std::vector<std::string>{"three", "one", "two"})) << "saved on drop";
    EXPECT_NEAR(section("three")->opacity(), 1.0, 0.01);
}

// A Claude row's own menu: a right click opens it, "現在のログインをここに取り込む" stores the live
// login in that profile (the place the "未取込" text sends the user to), "切替" applies only
// where the button does, and "設定…" opens the settings. The Menu key opens it too; a Codex row
// has none.
TEST_F(PopoverTest, TheRowMenuCapturesTheLiveLoginIntoItsProfile) {
    AppConfig config;
    config.keychainConnected = true;
    auto a = claude("a", "a@x");
    auto b = claude("b", "b@x");
    config.profiles = {a, b, codexProfile()};
    config.activeProfileID = a.id;
    writeFile(ActiveCredentialStore::filePath(home.path()), blob("tok-live"));
    writeFile(home / ".claude.json", identityOf("b@x"));
    account("tok-live", "b@x");
    start(config);
    finishCycle();
    open();
    QQuickView* view = popover->view();
    // A row's menu, and one of its items (found through the objects: they live in the window's
    // overlay while the menu is open).
    auto menuOf = [&](const std::string& row) {
        return section(row)->findChild<QObject*>(QStringLiteral("profileMenu"));
    };
    auto menuItem = [&](const std::string& row, const char* name) {
        return menuOf(row)->findChild<QQuickItem*>(QString::fromLatin1(name));
    };
    auto click = [&](QQuickItem* item) {
        QTest::mouseClick(view, Qt::LeftButton, {},
                          item->mapToScene(item->boundingRect().center()).toPoint());
        render();
    };
    auto rightClick = [&](const std::string& row) {
        QQuickItem* s = section(row);
        QTest::mouseClick(view, Qt::RightButton, {}, s->mapToScene(QPointF(s->width() / 2, 10)).toPoint());
        render();
    };

    rightClick("b");
    ASSERT_TRUE(menuOf("b")->property("opened").toBool());
    EXPECT_FALSE(menuItem("b", "switchItem")->isEnabled()) << "b has no slot yet";
    click(menuItem("b", "captureItem"));
    EXPECT_EQ(secrets.get(ProfileSlotStore::service, b.id.toString()), blob("tok-live"));
    EXPECT_EQ(store->lastActionMessage().value_or(""), "「b」に現在のログインを取り込みました");

    bool settingsOpened = false;
    QObject::connect(&actions, &PopoverActions::settingsRequested, [&] { settingsOpened = true; });
    view->requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view));
    section("a")->forceActiveFocus();
    QTest::keyClick(view, Qt::Key_Menu);
    render();
    ASSERT_TRUE(menuOf("a")->property("opened").toBool()) << "the Menu key opens it";
    EXPECT_FALSE(menuItem("a", "switchItem")->isEnabled()) << "a has no slot";
    click(menuItem("a", "settingsItem"));
    EXPECT_TRUE(settingsOpened);

    rightClick("codex");
    EXPECT_FALSE(menuOf("codex")->property("opened").toBool()) << "no menu on a Codex row";
}

// An address is never cut while its row could show it: it moves under the name when the header
// has no room for all of it, and is cut (in the middle) only when even that line is too short.
TEST_F(PopoverTest, AddressesAreCutOnlyWhenTheyCannotFit) {
    AppConfig config;
    auto a = claude("main", "me@example.com");
    auto b = claude("work", "a.rather.long.address.for.work.and.more@subdomain.example.com");
    auto c = claude("c", "c@x.io");
    config.profiles = {a, b, c};
    config.activeProfileID = a.id;
    start(config);
    finishCycle();
    open();
    // Where the address is shown ("header" or "below") and whether it is cut.
    auto shown = [&](const std::string& row) {
        QQuickItem* header = one(QStringLiteral("emailLabel"), section(row));
        QQuickItem* below = one(QStringLiteral("emailBelowLabel"), section(row));
        const bool inHeader = header->opacity() > 0;
        EXPECT_NE(inHeader, below->isVisible()) << row;
        QQuickItem* label = inHeader ? header : below;
        EXPECT_EQ(label->property("elide").toInt(), int(Qt::ElideMiddle));
        return std::string(inHeader ? "header" : "below") +
               (label->property("truncated").toBool() ? ", cut" : "");
    };
    EXPECT_EQ(shown("main"), "below") << "beside the 使用中 badge there is no room";
    EXPECT_EQ(shown("c"), "header");
    EXPECT_EQ(shown("work"), "below, cut");
    for (const char* row : {"main", "work", "c"})
        section(row)->setWidth(900);
    render();
    EXPECT_EQ(shown("main"), "header");
    EXPECT_EQ(shown("work"), "header");
}

// The panel's symbols (asked for with a colour) are ours whatever the icon theme has under their
// names; an icon asked for without one is still the theme's.
TEST(IconProviderTest, TintedSymbolsAreOursWhateverTheTheme) {
    testsupport::TempDir themes;
    testsupport::writeFile(themes / "Blocky/index.theme",
                           "[Icon Theme]\nName=Blocky\nDirectories=scalable\n\n[scalable]\nSize=16\n"
                           "MinSize=8\nMaxSize=512\nType=Scalable\n");
    testsupport::writeFile(themes / "Blocky/scalable/go-up.svg",
                           R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16">)"
                           R"(<rect width="16" height="16" fill="#888"/></svg>)");
    const QStringList paths = QIcon::themeSearchPaths();
    const QString theme = QIcon::themeName();
    QIcon::setThemeSearchPaths({QString::fromStdString(themes.path().string())});
    QIcon::setThemeName(QStringLiteral("Blocky"));
    auto coverage = [](const QImage& image) {
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                opaque += qAlpha(image.pixel(x, y)) > 128;
        return double(opaque) / (image.width() * image.height());
    };
    IconProvider provider;
    QSize size;
    EXPECT_GT(coverage(provider.requestImage(QStringLiteral("go-up"), &size, QSize(16, 16))), 0.9)
        << "untinted: the theme's block";
    const QImage ours = provider.requestImage(QStringLiteral("go-up?#102030"), &size, QSize(16, 16));
    EXPECT_LT(coverage(ours), 0.4) << "tinted: our thin arrow";
    QIcon::setThemeSearchPaths(paths);
    QIcon::setThemeName(theme);
}

// ---- The history window ----------------------------------------------------------------------

class HistoryWindowTest : public PopoverTest {
protected:
    std::unique_ptr<SceneWindows> windows;
    QQuickView* view = nullptr;
    QObject* model = nullptr;

    void openHistory() {
        windows = std::make_unique<SceneWindows>(store.get());
        windows->openHistory();
        view = windows->history();
        ASSERT_TRUE(view && view->rootObject());
        model = view->rootObject()->property("history").value<QObject*>();
        waitForResult();
    }
    // Until the computation on the worker has come back and the chart is drawn (up to 10 s: a
    // loaded machine running the sanitizers takes more than one).
    void waitForResult() {
        for (int i = 0; i < 2000 && !model->property("loaded").toBool(); ++i) {
            sleeper.settle();
            QTest::qWait(5);
        }
        sleeper.settle();
        QTest::qWait(20);
        (void)view->grabWindow();
    }
    void TearDown() override {
        windows.reset();
        PopoverTest::TearDown();
    }
    std::vector<QString> currentValues() {
        std::vector<QString> values;
        for (QQuickItem* e : all(QStringLiteral("currentEntry"), view->rootObject()))
            values.push_back(e->property("value").toString());
        return values;
    }
    void record(const ProfileConfig& p, Instant at, std::vector<UsageWindow> windows) {
        history.append(HistoryRecord{at, p.id, std::move(windows)});
    }
};

TEST_F(HistoryWindowTest, AFreshInstallationShowsTheEmptyStateAndEveryProfileInBothRows) {
    AppConfig config;
    auto a = claude("a", "a@x");
    auto b = claude("b", "b@x");
    config.profiles = {a, b, codexProfile()};
    start(config);
    finishCycle();
    openHistory();
    EXPECT_TRUE(model->property("loaded").toBool());
    EXPECT_TRUE(one(QStringLiteral("emptyState"), view->rootObject())->isVisible());
    EXPECT_EQ(model->property("availableKeys").toStringList(), QStringList{QStringLiteral("five_hour")});
    EXPECT_EQ(all(QStringLiteral("legendEntry"), view->rootObject()).size(), 3u);
    EXPECT_EQ(currentValues(), (std::vector<QString>(3, QStringLiteral("–"))));
    EXPECT_EQ(view->title(), QStringLiteral("MeterKeeper · 使用履歴"));
    EXPECT_EQ(view->size(), QSize(720, 640));
    windows->openHistory();
    EXPECT_EQ(windows->history(), view) << "at most one";

    // A history of Codex readings only: after the first computation the picker moves to them.
    history.append(
        HistoryRecord{clock.now(), config.profiles[2].id, {{"codex_5h", 3, std::nullopt, std::nullopt}}});
    windows.reset();
    openHistory();
    waitForResult();
    EXPECT_EQ(model->property("windowKey").toString(), QStringLiteral("codex_5h"));
    EXPECT_EQ(model->property("availableKeys").toStringList(), QStringList{QStringLiteral("codex_5h")});
    EXPECT_EQ(model->property("pointCount").toInt(), 1);
}

TEST_F(HistoryWindowTest, LinesThinnedCurrentValuesAndTheMonthSpan) {
    AppConfig config;
    auto a = claude("a", "a@x");
    auto b = claude("b", "b@x");
    config.profiles = {a, b, codexProfile()};
    // 1 234 readings of a over the last 20 hours; b's last fetch failed; a now at 57.5.
    for (int i = 0; i < 1234; ++i)
        record(a, clock.now() - minutes(1234 - i),
               {{"five_hour", double(i % 100), std::nullopt, std::nullopt}});
    record(b, clock.now() - days(10), {{"five_hour", 12, std::nullopt, std::nullopt}});
    record(a, clock.now() - seconds(5), {{"five_hour", 57.5, std::nullopt, std::nullopt}});
    start(config);
    openHistory();
    EXPECT_FALSE(one(QStringLiteral("emptyState"), view->rootObject())->isVisible());
    EXPECT_EQ(model->property("pointCount").toInt(), 500)
        << "a's 1 235 thinned to 500; b's is older than a day";
    EXPECT_EQ(currentValues()[0], QStringLiteral("58%"));
    EXPECT_EQ(currentValues()[1], QStringLiteral("–")) << "no live status for b";

    const QDateTime before = model->property("axisMin").toDateTime();
    model->setProperty("range", QStringLiteral("30日"));
    waitForResult();
    EXPECT_EQ(model->property("axisMin").toDateTime().secsTo(model->property("axisMax").toDateTime()),
              2592000);
    EXPECT_LT(model->property("axisMin").toDateTime(), before);
    EXPECT_EQ(model->property("pointCount").toInt(), 501) << "b's reading of ten days ago now counts";
}

// ---- The settings window ---------------------------------------------------------------------

class SettingsWindowTest : public HistoryWindowTest {
protected:
    QQuickView* settingsView = nullptr;
    QObject* settings = nullptr;

    void openSettings() {
        windows = std::make_unique<SceneWindows>(store.get());
        windows->openSettings();
        settingsView = windows->settings();
        ASSERT_TRUE(settingsView && settingsView->rootObject());
        settings = settingsView->rootObject()->property("settings").value<QObject*>();
        show(QStringLiteral("profiles"));
    }
    void show(const QString& page) {
        settingsView->rootObject()->setProperty("selection", page);
        sleeper.settle();
        QTest::qWait(20);
        (void)settingsView->grabWindow();
    }
    QQuickItem* item(const QString& name) { return one(name, settingsView->rootObject()); }
    std::vector<QQuickItem*> items(const QString& name) { return all(name, settingsView->rootObject()); }
};

TEST_F(SettingsWindowTest, ProfileRowsPriorityListAndOneSavePerBurstOfEdits) {
    AppConfig config;
    auto a = claude("A");
    auto c = claude("C", "c@x");
    c.accountIdentity = R"({"oauthAccount":{"emailAddress":"c@x"}})";
    config.profiles = {a, codexProfile("B"), c};
    start(config);
    finishCycle();
    openSettings();

    const auto rows = items(QStringLiteral("profileRow"));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(one(QStringLiteral("accountLabel"), rows[0])->property("text").toString(),
              QStringLiteral("未取り込み"));
    EXPECT_TRUE(one(QStringLiteral("captureButton"), rows[0])->isVisible());
    EXPECT_FALSE(one(QStringLiteral("captureButton"), rows[1])->isVisible());
    EXPECT_FALSE(one(QStringLiteral("accountLabel"), rows[1])->isVisible())
        << "a Codex row has no account line";
    EXPECT_EQ(one(QStringLiteral("codexSource"), rows[1])->property("text").toString(),
              QStringLiteral("Codex: ~/.codex/sessions から読み取り"));

    // Capture the live login into A: the row then shows its address.
    writeFile(ActiveCredentialStore::filePath(home.path()), blob("tok-live"));
    writeFile(home / ".claude.json", identityOf("live@x"));
    account("tok-live", "live@x");
    QMetaObject::invokeMethod(settings, "capture", Q_ARG(QString, QString::fromStdString(a.id.toString())));
    for (int i = 0; i < 50 && store->config().profiles[0].accountEmail != "live@x"; ++i)
        sleeper.advance(milliseconds(200));
    sleeper.advance(seconds(5)); // the refresh that follows the capture, then the re-read
    show(QStringLiteral("profiles"));
    EXPECT_EQ(one(QStringLiteral("accountLabel"), items(QStringLiteral("profileRow"))[0])
                  ->property("text")
                  .toString(),
              QStringLiteral("live@x"));
    EXPECT_EQ(item(QStringLiteral("liveEmail"))->property("text").toString(), QStringLiteral("live@x"));

    show(QStringLiteral("autoswitch"));
    std::vector<std::pair<QString, bool>> numbers;
    for (QQuickItem* row : items(QStringLiteral("priorityRow")))
        if (row->isVisible())
            numbers.emplace_back(one(QStringLiteral("priorityNumber"), row)->property("text").toString() +
                                     row->property("name").toString(),
                                 true);
    EXPECT_EQ(numbers, (std::vector<std::pair<QString, bool>>{{QStringLiteral("1A"), true},
                                                              {QStringLiteral("2C"), true}}));

    // A burst of typing is one write, 0.8 s after the last keystroke.
    show(QStringLiteral("profiles"));
    QQuickItem* nameField = one(QStringLiteral("nameField"), items(QStringLiteral("profileRow"))[2]);
    nameField->forceActiveFocus();
    // Each write replaces the file atomically: a new inode.
    const auto inode = [&] {
        struct stat st {};
        ::stat((configDir / "config.json").c_str(), &st);
        return st.st_ino;
    };
    const auto first = inode();
    for (const char* key : {"x", "y", "z"}) {
        QTest::keyClick(settingsView, key[0]);
        sleeper.advance(milliseconds(200));
        EXPECT_EQ(inode(), first) << "not written while typing";
    }
    sleeper.advance(seconds(1));
    EXPECT_NE(inode(), first);
    EXPECT_EQ(savedConfig().profiles[2].name, "Cxyz");
}

// The header names the account the store acts on, and follows a switch and a new login.
TEST_F(SettingsWindowTest, TheLiveAccountIsTheStoresAndFollowsASwitchAndALogin) {
    AppConfig config;
    config.keychainConnected = true;
    config.autoReadLiveClaude = false; // known from claude's state file, no token read
    auto a = claude("A", "a@x");
    auto b = claude("B", "b@x");
    a.accountIdentity = identityOf("a@x");
    b.accountIdentity = identityOf("b@x");
    config.profiles = {a, b};
    config.activeProfileID = a.id;
    slot(a, "tok-a");
    slot(b, "tok-b");
    writeFile(ActiveCredentialStore::filePath(home.path()), blob("tok-a"));
    writeFile(home / ".claude.json", identityOf("a@x"));
    start(config);
    finishCycle();
    openSettings();
    const auto live = [&] { return item(QStringLiteral("liveEmail"))->property("text").toString(); };
    EXPECT_EQ(live(), QStringLiteral("a@x"));

    await(sleeper, store->switchTo(b));
    ASSERT_EQ(store->config().activeProfileID, b.id) << store->lastActionMessage().value_or("");
    EXPECT_EQ(live(), QStringLiteral("b@x"));

    writeFile(home / ".claude.json", identityOf("c@x")); // claude /login as another account
    sleeper.advance(seconds(65));
    EXPECT_EQ(live(), QStringLiteral("c@x"));
}

TEST_F(SettingsWindowTest, StatusLineStateInstallAndTheReadingSource) {
    AppConfig config;
    auto a = claude("A");
    auto b = claude("B");
    config.profiles = {a, b};
    fs::create_directories(home / ".claude-A");
    fs::create_directories(home / ".claude-B");
    writeFile(home / ".claude-B/settings.json",
              R"({"statusLine": {"type": "command", "command": "mine.sh"}})");
    start(config);
    openSettings();
    auto rowState = [&](int i) {
        for (int n = 0; n < 50; ++n) { // read off the main thread
            sleeper.settle();
            QTest::qWait(5);
        }
        return one(QStringLiteral("statusLineState"), items(QStringLiteral("profileRow"))[i])
            ->property("text")
            .toString();
    };
    EXPECT_EQ(rowState(0), QStringLiteral("ステータスライン: 未導入"));
    EXPECT_EQ(rowState(1), QStringLiteral("ステータスライン: 別のコマンド（mine.sh）"));
    EXPECT_FALSE(
        one(QStringLiteral("statusLineInstall"), items(QStringLiteral("profileRow"))[1])->isVisible());

    QMetaObject::invokeMethod(settings, "installStatusLine",
                              Q_ARG(QString, QString::fromStdString(a.id.toString())));
    EXPECT_EQ(rowState(0), QStringLiteral("ステータスライン: 導入済み"));
    EXPECT_NE(readFile(home / ".claude-A/settings.json")->find("--statusline"), std::string::npos);

    QMetaObject::invokeMethod(settings, "setProfileUsageSource",
                              Q_ARG(QString, QString::fromStdString(a.id.toString())),
                              Q_ARG(QString, QStringLiteral("statusLine")));
    sleeper.advance(seconds(1));
    EXPECT_EQ(savedConfig().profiles[0].usageSource, UsageSource::statusLine);
    EXPECT_EQ(one(QStringLiteral("sourcePicker"), items(QStringLiteral("profileRow"))[0])
                  ->property("currentIndex")
                  .toInt(),
              1);
}

TEST_F(SettingsWindowTest, SlidersMetricCardsAndARefusedLoginItem) {
    AppConfig config;
    config.autoSwitchEnabled = true;
    config.autoSwitchThreshold = 87.9;
    config.profiles = {claude("A")};
    start(config);
    openSettings();

    show(QStringLiteral("autoswitch"));
    EXPECT_EQ(item(QStringLiteral("thresholdLabel"))->property("text").toString(),
              QStringLiteral("しきい値: 87%"));
    QQuickItem* threshold = item(QStringLiteral("thresholdSlider"));
    EXPECT_EQ(threshold->property("stepSize").toDouble(), 5);
    EXPECT_EQ(threshold->property("from").toDouble(), 80);
    EXPECT_EQ(threshold->property("to").toDouble(), 100);
    for (const auto& [to, expected] :
         std::vector<std::pair<double, double>>{{91, 90}, {83, 85}, {100, 100}}) {
        threshold->setProperty("value", to);
        QMetaObject::invokeMethod(threshold, "moved");
        EXPECT_EQ(store->config().autoSwitchThreshold, expected) << "snapped to the steps of 5";
    }

    show(QStringLiteral("general"));
    QQuickItem* interval = item(QStringLiteral("intervalSlider"));
    for (const auto& [to, shown] : std::vector<std::pair<double, QString>>{
             {30, QStringLiteral("30秒")}, {50, QStringLiteral("60秒")}, {600, QStringLiteral("600秒")}}) {
        interval->setProperty("value", to);
        QMetaObject::invokeMethod(interval, "moved");
        EXPECT_EQ(item(QStringLiteral("intervalLabel"))->property("text").toString(), shown);
    }

    // The login item cannot be written (its directory is a file): the switch stays off.
    ScopedEnv configHome("XDG_CONFIG_HOME", (home / "blocked").string());
    writeFile(home / "blocked", "");
    QMetaObject::invokeMethod(settings, "setLaunchAtLogin", Q_ARG(bool, true));
    show(QStringLiteral("general"));
    EXPECT_FALSE(item(QStringLiteral("launchAtLogin"))->property("checked").toBool());
    EXPECT_TRUE(item(QStringLiteral("launchError"))->isVisible());
    EXPECT_FALSE(item(QStringLiteral("launchError"))->property("text").toString().isEmpty());

    // The session card hides its picker while off and shows the stored style again when on.
    show(QStringLiteral("menubar"));
    QQuickItem* session = item(QStringLiteral("sessionCard"));
    EXPECT_TRUE(one(QStringLiteral("stylePicker"), session)->isVisible());
    settings->setProperty("menuSessionStyle", QStringLiteral("compact"));
    settings->setProperty("menuSessionEnabled", false);
    show(QStringLiteral("menubar"));
    session = item(QStringLiteral("sessionCard"));
    EXPECT_FALSE(one(QStringLiteral("stylePicker"), session)->isVisible());
    EXPECT_FALSE(one(QStringLiteral("remainingSwitch"), session)->isVisible());
    settings->setProperty("menuSessionEnabled", true);
    show(QStringLiteral("menubar"));
    session = item(QStringLiteral("sessionCard"));
    EXPECT_TRUE(one(QStringLiteral("stylePicker"), session)->isVisible());
    EXPECT_EQ(session->property("styleValue").toString(), QStringLiteral("compact"));
    EXPECT_EQ(items(QStringLiteral("styleTile")).size(), 10u) << "five tiles on each card";
}

// ---- Reference images -----------------------------------------------------------------------
// Rendered offscreen with the software scene graph, pinned fonts (tests/data/fonts.conf) and time
// zone, at twice the pixel density; compared with the committed images in docs/screenshots with a
// small tolerance. ULMET_UPDATE_SCREENSHOTS=1 writes them anew.

const QString kShots = QStringLiteral(ULMET_SOURCE_DIR "/docs/screenshots/");

// The share of pixels that differ visibly (any channel by more than 48).
double difference(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return 1;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32), y = b.convertToFormat(QImage::Format_ARGB32);
    qint64 differing = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col)
            differing += std::abs(qRed(p[col]) - qRed(q[col])) > 48 ||
                         std::abs(qGreen(p[col]) - qGreen(q[col])) > 48 ||
                         std::abs(qBlue(p[col]) - qBlue(q[col])) > 48 ||
                         std::abs(qAlpha(p[col]) - qAlpha(q[col])) > 48;
    }
    return double(differing) / double(x.width() * x.height());
}

void compareWithReference(const QImage& image, const QString& name) {
    ASSERT_FALSE(image.isNull());
    const QString path = kShots + name;
    if (qEnvironmentVariable("ULMET_UPDATE_SCREENSHOTS") == QStringLiteral("1")) {
        ASSERT_TRUE(image.save(path));
        return;
    }
    const QImage reference(path);
    ASSERT_FALSE(reference.isNull()) << "no reference image " << path.toStdString();
    EXPECT_LT(difference(image, reference), 0.01) << name.toStdString() << " differs from its reference";
}

TEST_F(HistoryWindowTest, ReferenceImageOfTheHistoryChart) {
    AppConfig config;
    auto main = claude("main", "me@example.com");
    main.colorName = "orange";
    auto work = claude("work", "work@example.com");
    work.colorName = "blue";
    config.profiles = {main, work, codexProfile("Codex")};
    config.profiles[2].colorName = "green";
    // A day of readings every ten minutes: each five-hour window fills, then resets.
    for (int m = 0; m <= 24 * 60; m += 10) {
        const Instant at = clock.now() - minutes(24 * 60 - m);
        record(main, at, {{"five_hour", std::fmod(m / 3.2, 100.0), std::nullopt, std::nullopt}});
        record(work, at, {{"five_hour", std::fmod(m / 5.0 + 40, 90.0), std::nullopt, std::nullopt}});
        record(config.profiles[2], at,
               {{"codex_5h", std::fmod(m / 4.0 + 10, 80.0), std::nullopt, std::nullopt},
                {"codex_week", 30 + m / 100.0, std::nullopt, std::nullopt}});
    }
    start(config);
    openHistory();
    // Both providers have a five-hour window: their buttons are told apart.
    EXPECT_EQ(model->property("keyLabels").toStringList(),
              (QStringList{QStringLiteral("5時間 (Codex)"), QStringLiteral("5時間"), QStringLiteral("週")}));
    compareWithReference(view->grabWindow(), QStringLiteral("history.png"));
}

// The settings of the reference images: three profiles, one captured and logged in.
class ReferenceSettings : public SettingsWindowTest {
protected:
    void openReferenceSettings() {
        AppConfig config;
        config.keychainConnected = true;
        config.autoSwitchEnabled = true;
        config.menuWeekEnabled = true;
        config.menuWeekStyle = MenuBarStyle::progressBar;
        auto main = claude("main", "me@example.com");
        main.colorName = "orange";
        main.configDir = "~/.claude";
        main.accountIdentity = R"({"oauthAccount":{"emailAddress":"me@example.com"}})";
        auto work = claude("work", "work@example.com");
        work.colorName = "blue";
        ProfileConfig codex = codexProfile("Codex");
        codex.colorName = "green";
        config.profiles = {main, codex, work};
        config.activeProfileID = main.id;
        history.append(HistoryRecord{clock.now() - minutes(1),
                                     main.id,
                                     {{"five_hour", 62, clock.now() + minutes(130), 18000},
                                      {"seven_day", 26, clock.now() + hours(90), 604800}}});
        writeFile(home / ".claude.json", identityOf("me@example.com"));
        start(config);
        openSettings();
    }
};

TEST_F(ReferenceSettings, ReferenceImagesOfEverySettingsPage) {
    openReferenceSettings();
    for (const QString& page : {QStringLiteral("profiles"), QStringLiteral("menubar"),
                                QStringLiteral("autoswitch"), QStringLiteral("general")}) {
        show(page);
        compareWithReference(settingsView->grabWindow(), QStringLiteral("settings-%1.png").arg(page));
    }
}

// The panel of the reference images: four profiles of every kind, one reading well, one refused.
class ReferencePanel : public PopoverTest {
protected:
    void openReferencePanel() {
        AppConfig config;
        config.keychainConnected = true;
        config.menuWeekEnabled = true;
        config.menuWeekStyle = MenuBarStyle::progressBar;
        config.menuSessionShowRemaining = true;
        auto main = claude("main", "me@example.com");
        main.colorName = "orange";
        auto work = claude("work", "work@example.com");
        work.colorName = "blue";
        ProfileConfig codex = codexProfile("Codex");
        codex.colorName = "green";
        auto spare = claude("account4");
        spare.colorName = "purple";
        config.profiles = {main, work, codex, spare};
        config.activeProfileID = main.id;
        slot(main, "tok-main");
        slot(work, "tok-work");
        answer("tok-main",
               ok(json{{"five_hour", {{"utilization", 62}, {"resets_at", "2026-09-14T14:10:00Z"}}},
                       {"seven_day", {{"utilization", 26}, {"resets_at", "2026-09-18T03:00:00Z"}}},
                       {"seven_day_opus", {{"utilization", 8}, {"resets_at", "2026-09-18T03:00:00Z"}}}}
                      .dump()));
        answer("tok-work", {401, "{}", ""});
        // work was read 20 minutes ago; now its login is refused: that reading stays, said old.
        history.append(HistoryRecord{clock.now() - minutes(20),
                                     work.id,
                                     {{"five_hour", 81, clock.now() + hours(2), std::nullopt},
                                      {"seven_day", 40, clock.now() + hours(70), std::nullopt}}});
        writeFile(
            home / ".codex/sessions/2026/09/14/rollout.jsonl",
            R"({"timestamp":"2026-09-14T11:58:00Z","type":"event_msg","payload":{"type":"token_count","rate_limits":)"
            R"({"primary":{"used_percent":3,"window_minutes":300,"resets_at":1789401600},)"
            R"("secondary":{"used_percent":44,"window_minutes":10080,"resets_at":1789660800}}}})"
            "\n");
        start(config);
        finishCycle();
        open();
    }
};

TEST_F(ReferencePanel, ReferenceImagesOfThePanelAndTheTrayIcon) {
    openReferencePanel();
    compareWithReference(popover->view()->grabWindow(), QStringLiteral("popover.png"));

    const std::vector<GlyphMetric> metrics = menuGlyphs(store->menuMetrics());
    ASSERT_EQ(metrics.size(), 2u);
    // On a dark panel, as a tray shows them.
    for (int size : {22, 48}) {
        QImage onPanel(size, size, QImage::Format_ARGB32);
        onPanel.fill(QColor(0x2b, 0x2b, 0x2b));
        QPainter(&onPanel).drawImage(0, 0, GlyphPainter::trayIcon(metrics, size, GlyphColors::dark()));
        compareWithReference(onPanel, QStringLiteral("tray-%1.png").arg(size));
    }
    QImage label = GlyphPainter::wideLabel(metrics, 2, GlyphColors::dark());
    QImage onBlack(label.size(), QImage::Format_ARGB32);
    onBlack.fill(Qt::black);
    QPainter(&onBlack).drawImage(0, 0, label);
    compareWithReference(onBlack, QStringLiteral("label.png"));
}

// In English (the locale or the setting chose it): the same panel and settings page, with every
// text translated and nothing cut.
TEST_F(ReferencePanel, ReferenceImageOfThePanelInEnglish) {
    const Translations english(Language::Lang::english, ULMET_BUILD_DIR "/locale");
    openReferencePanel();
    compareWithReference(popover->view()->grabWindow(), QStringLiteral("popover-en.png"));
}

TEST_F(ReferenceSettings, ReferenceImageOfTheGeneralPageInEnglish) {
    const Translations english(Language::Lang::english, ULMET_BUILD_DIR "/locale");
    openReferenceSettings();
    show(QStringLiteral("general"));
    compareWithReference(settingsView->grabWindow(), QStringLiteral("settings-general-en.png"));
}

} // namespace

// Qt Quick 6.4's software scene graph keeps the textures of Image items (and the images behind
// them) in its render context after their window is gone, until the process ends.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:QSGRenderContext::textureForFactory\n";
}
// Qt's libraries have no frame pointers: unwind slowly, so that the suppression sees Qt's frames.
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    qputenv("TZ", "Asia/Tokyo");
    qputenv("FONTCONFIG_FILE", ULMET_TEST_DATA "/fonts.conf");
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
