// The real panel QML, offscreen, against a store on fakes; items are found by object name.

#include "../app/StoreFixture.h"

#include "models/ProfileListModel.h"
#include "popover/PopoverWindow.h"

#include <QApplication>
#include <QQuickItem>
#include <QQuickView>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

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
    ProfileConfig codex;
    codex.name = "codex";
    codex.provider = Provider::codex;
    codex.configDir = "~/.codex";
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
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
