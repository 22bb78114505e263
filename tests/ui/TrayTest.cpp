// The tray application as a desktop sees it: the real `ulmet` binary on a private X server and
// session bus (tests/support/with-desktop.sh), with a StatusNotifierItem host of our own, with an
// XEmbed tray (trayer), with no tray at all, and launched twenty times at once.

#include "FakeStatusNotifierWatcher.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>

using namespace testsupport;

namespace {

// Runs the event loop until `done` or the time is up.
bool waitFor(const std::function<bool()>& done, int ms = 10000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Visible top-level windows titled exactly "MeterKeeper".
QStringList panelWindows() {
    const QString out =
        run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--name"), QStringLiteral("^MeterKeeper$")});
    return out.isEmpty() ? QStringList() : out.split(QLatin1Char('\n'));
}

// x, y, width, height of a window.
QRect windowGeometry(const QString& id) {
    const QString out = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id});
    auto field = [&](const char* name) {
        const qsizetype at = out.indexOf(QLatin1String(name));
        return at < 0 ? -1
                      : out.mid(at + qsizetype(qstrlen(name)))
                            .section(QLatin1Char('\n'), 0, 0)
                            .trimmed()
                            .toInt();
    };
    return {field("Absolute upper-left X:"), field("Absolute upper-left Y:"), field("Width:"),
            field("Height:")};
}

// The icon trayer embedded: a 22-pixel-wide window without a name inside trayer's, near the top
// right corner; empty while there is none.
QString embeddedIcon() {
    const QStringList lines =
        run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")})
            .split(QLatin1Char('\n'));
    for (const QString& line : lines)
        if (line.contains(QStringLiteral("22x")) && line.trimmed().startsWith(QStringLiteral("0x")) &&
            line.contains(QStringLiteral("(has no name)"))) {
            const QString id = line.trimmed().section(QLatin1Char(' '), 0, 0);
            const QRect r = windowGeometry(id);
            if (r.width() == 22 && r.y() < 24 && r.x() > 1000)
                return id;
        }
    return {};
}

// An XEmbed tray at the top right of the screen, stopped when the handle goes.
std::unique_ptr<QProcess, void (*)(QProcess*)> startTrayer() {
    std::unique_ptr<QProcess, void (*)(QProcess*)> trayer(new QProcess, [](QProcess* p) {
        p->terminate();
        p->waitForFinished();
        delete p;
    });
    trayer->start(QStringLiteral("trayer"),
                  {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                   QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                   QStringLiteral("--height"), QStringLiteral("24")});
    EXPECT_TRUE(trayer->waitForStarted());
    return trayer;
}

class TrayTest : public testing::Test {
protected:
    TempDir home;
    std::vector<std::unique_ptr<QProcess>> processes;

    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs tests/support/with-desktop.sh";
        // One profile with a reading from a minute ago: the icon shows its glyphs.
        const std::string id = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
        const auto dir = home / ".local/share/ulmet";
        writeFile(dir / "config.json", R"({"profiles":[{"id":")" + id +
                                           R"(","name":"main","configDir":"~/.claude","colorName":"green"}],)"
                                           R"("activeProfileID":")" +
                                           id + R"(","menuWeekEnabled":true,"pollIntervalSec":600})");
        const auto now = std::chrono::system_clock::now() - std::chrono::minutes(1);
        const std::time_t t = std::chrono::system_clock::to_time_t(now);
        std::tm local{}, utc{};
        localtime_r(&t, &local);
        gmtime_r(&t, &utc);
        char day[16], ts[32];
        std::strftime(day, sizeof day, "%Y-%m-%d", &local);
        std::strftime(ts, sizeof ts, "%Y-%m-%dT%H:%M:%SZ", &utc);
        writeFile(
            dir / "history" / (std::string(day) + ".jsonl"),
            R"({"ts":")" + std::string(ts) + R"(","profileID":")" + id +
                R"(","windows":[{"key":"five_hour","utilization":42},{"key":"seven_day","utilization":93}]})"
                "\n");
    }
    void TearDown() override {
        for (auto& p : processes) {
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
            p->waitForFinished(2000);
        }
    }

    QProcess* launch(QStringList extraEnv = {}) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), QString::fromStdString(home.path().string()));
        env.remove(QStringLiteral("XDG_DATA_HOME"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("ULMET_API_ORIGIN"), QStringLiteral("http://127.0.0.1:9"));
        env.insert(QStringLiteral("ULMET_CONSOLE_ORIGIN"), QStringLiteral("http://127.0.0.1:9"));
        // The whole desktop stack runs in this process: libxkbcommon reads strings that are not
        // NUL-terminated (with a length), and Qt, fontconfig and xcb keep memory until exit. Our
        // own code is checked for leaks by the unit tests.
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0:abort_on_error=1"));
        for (const QString& kv : extraEnv)
            env.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QStringLiteral(ULMET_BINARY), {});
        EXPECT_TRUE(p->waitForStarted(5000));
        processes.push_back(std::move(p));
        return processes.back().get();
    }
};

// a(iiay) → (width, height, ARGB32 bytes in network order) per pixmap.
struct Pixmap {
    int width = 0, height = 0;
    QByteArray data;
};
std::vector<Pixmap> pixmaps(const QDBusArgument& arg) {
    std::vector<Pixmap> out;
    arg.beginArray();
    while (!arg.atEnd()) {
        Pixmap p;
        arg.beginStructure();
        arg >> p.width >> p.height >> p.data;
        arg.endStructure();
        out.push_back(p);
    }
    arg.endArray();
    return out;
}

QVariant itemProperty(const QString& service, const QString& name) {
    QDBusMessage get = QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierItem") << name;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

TEST_F(TrayTest, AStatusNotifierHostGetsASquareIconATooltipAMenuAndThePanelOnActivate) {
    FakeStatusNotifierWatcher watcher;
    ASSERT_TRUE(watcher.start());
    QProcess* launched = launch();
    ASSERT_TRUE(waitFor([&] { return !watcher.items().isEmpty(); })) << "the item registers";
    QString service = watcher.items().first();
    if (const qsizetype slash = service.indexOf(QLatin1Char('/')); slash > 0)
        service = service.left(slash);

    EXPECT_EQ(itemProperty(service, QStringLiteral("Title")).toString(), QStringLiteral("MeterKeeper"));
    std::vector<Pixmap> icons;
    ASSERT_TRUE(waitFor([&] {
        icons = pixmaps(itemProperty(service, QStringLiteral("IconPixmap")).value<QDBusArgument>());
        return !icons.empty();
    }));
    bool has22 = false;
    for (const Pixmap& p : icons) {
        EXPECT_EQ(p.width, p.height) << "square pixmaps only";
        EXPECT_EQ(p.data.size(), p.width * p.height * 4);
        if (p.width != 22)
            continue;
        has22 = true;
        // Not cut in half: both the upper (session) and the lower (week) half are drawn.
        int top = 0, bottom = 0;
        for (int y = 0; y < 22; ++y)
            for (int x = 0; x < 22; ++x)
                (y < 11 ? top : bottom) += static_cast<unsigned char>(p.data[(y * 22 + x) * 4]) > 0;
        EXPECT_GT(top, 10);
        EXPECT_GT(bottom, 10);
    }
    EXPECT_TRUE(has22);

    const QDBusArgument tip = itemProperty(service, QStringLiteral("ToolTip")).value<QDBusArgument>();
    QString iconName, title, description;
    tip.beginStructure();
    tip >> iconName;
    pixmaps(tip);
    tip >> title >> description;
    tip.endStructure();
    const QString text = title + QLatin1Char('\n') + description;
    EXPECT_TRUE(text.contains(QStringLiteral("42%"))) << qPrintable(text);
    EXPECT_TRUE(text.contains(QStringLiteral("93%"))) << qPrintable(text);
    EXPECT_TRUE(text.contains(QStringLiteral("main"))) << qPrintable(text);

    const QString menu = itemProperty(service, QStringLiteral("Menu")).value<QDBusObjectPath>().path();
    ASSERT_FALSE(menu.isEmpty());
    QDBusMessage layout = QDBusMessage::createMethodCall(
        service, menu, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
    layout << 0 << -1 << QStringList{QStringLiteral("label")};
    EXPECT_EQ(QDBusConnection::sessionBus().call(layout, QDBus::Block, 5000).type(),
              QDBusMessage::ReplyMessage);

    // Qt Quick is loaded with the first window, not for the tray alone.
    const auto loadsQtQuick = [app = launched] {
        QFile maps(QStringLiteral("/proc/%1/maps").arg(app->processId()));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6Quick.so");
    };
    EXPECT_FALSE(loadsQtQuick());
    EXPECT_TRUE(panelWindows().isEmpty());
    QDBusMessage activate = QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                                           QStringLiteral("org.kde.StatusNotifierItem"),
                                                           QStringLiteral("Activate"));
    activate << 100 << 10;
    QDBusConnection::sessionBus().call(activate, QDBus::NoBlock);
    EXPECT_TRUE(waitFor([] { return panelWindows().size() == 1; })) << "the panel opens";
    EXPECT_TRUE(loadsQtQuick());

    // A middle click (the host's SecondaryActivate) toggles the panel as a click does.
    QDBusMessage middle = QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                                         QStringLiteral("org.kde.StatusNotifierItem"),
                                                         QStringLiteral("SecondaryActivate"));
    middle << 100 << 10;
    QDBusConnection::sessionBus().call(middle, QDBus::NoBlock);
    EXPECT_TRUE(waitFor([] { return panelWindows().isEmpty(); })) << "a middle click closes it";
}

// A panel started together with us (an autostart entry beside the panel at login) takes the
// watcher's name a moment before it registers its host: the icon still goes into it.
TEST_F(TrayTest, APanelWhoseHostRegistersAMomentAfterItsWatcherGetsTheIcon) {
    FakeStatusNotifierWatcher watcher;
    watcher.setHostRegistered(false);
    ASSERT_TRUE(watcher.start());
    launch();
    QTimer::singleShot(700, [&] { watcher.setHostRegistered(true); });
    ASSERT_TRUE(waitFor([&] { return !watcher.items().isEmpty(); })) << "the item registers";
    EXPECT_TRUE(panelWindows().isEmpty()) << "no window instead of the icon";
}

// A panel that restarts (a configuration or theme change, a crash) takes the icon with it: the
// window stands in meanwhile, and the icon goes into the panel that comes back.
TEST_F(TrayTest, APanelThatRestartsGetsTheIconBack) {
    {
        FakeStatusNotifierWatcher first;
        ASSERT_TRUE(first.start());
        launch();
        ASSERT_TRUE(waitFor([&] { return !first.items().isEmpty(); }));
        first.stop();
        EXPECT_TRUE(waitFor([] { return panelWindows().size() == 1; })) << "the window while no panel runs";
    }
    FakeStatusNotifierWatcher second;
    second.setHostRegistered(false);
    ASSERT_TRUE(second.start());
    QTimer::singleShot(300, [&] { second.setHostRegistered(true); });
    EXPECT_TRUE(waitFor([&] { return !second.items().isEmpty(); })) << "the icon goes into the new panel";
    EXPECT_TRUE(waitFor([] { return panelWindows().isEmpty(); })) << "and the window goes away";
}

TEST_F(TrayTest, AnXEmbedTrayEmbedsTheIconAndAClickOpensThePanelBesideItEscapeHidesIt) {
    const auto trayer = startTrayer();
    QThread::msleep(500);
    QElapsedTimer sinceLaunch;
    sinceLaunch.start();
    launch();
    ASSERT_TRUE(waitFor([] { return !embeddedIcon().isEmpty(); }, 15000)) << "trayer embeds the icon";
    // A tray that is there from the start is used at once: no waiting for another kind of host.
    EXPECT_LT(sinceLaunch.elapsed(), 3000) << "embedded before the old fixed wait for another host was over";
    const QRect at = windowGeometry(embeddedIcon());
    run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QString::number(at.center().x()), QString::number(at.center().y()),
         QStringLiteral("click"), QStringLiteral("1")});
    ASSERT_TRUE(waitFor([] { return panelWindows().size() == 1; })) << "a click opens the panel";
    const QRect panel = windowGeometry(panelWindows().first());
    EXPECT_LT(std::abs(panel.top() - at.bottom()), 40) << "just below the icon";
    EXPECT_LE(panel.right(), 1280);
    EXPECT_GT(panel.right(), 1280 - 60) << "at the right, where the icon is";

    run(QStringLiteral("xdotool"),
        {QStringLiteral("windowfocus"), QStringLiteral("--sync"), panelWindows().first()});
    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
    EXPECT_TRUE(waitFor([] { return panelWindows().isEmpty(); })) << "Escape hides it";
}

// A panel that starts after us (later than the wait at start) still gets the icon, of either kind,
// and the window that stood in goes; a tray that goes away brings the window back.
TEST_F(TrayTest, ATrayThatComesLaterThanUsGetsTheIcon) {
    launch();
    ASSERT_TRUE(waitFor([] { return panelWindows().size() == 1; }, 15000)) << "the window while no tray runs";
    {
        auto trayer = startTrayer();
        EXPECT_TRUE(waitFor([] { return !embeddedIcon().isEmpty(); }))
            << "the icon goes into the XEmbed tray";
        EXPECT_TRUE(waitFor([] { return panelWindows().isEmpty(); })) << "and the window goes away";
    }
    EXPECT_TRUE(waitFor([] { return panelWindows().size() == 1; }))
        << "the window is back with the tray gone";
    {
        auto trayer = startTrayer();
        EXPECT_TRUE(waitFor([] { return !embeddedIcon().isEmpty(); })) << "a restarted tray gets it again";
        EXPECT_TRUE(waitFor([] { return panelWindows().isEmpty(); }));
    }

    TearDown(); // a new process: this one took XEmbed for good
    processes.clear();
    launch();
    ASSERT_TRUE(waitFor([] { return panelWindows().size() == 1; }, 15000));
    FakeStatusNotifierWatcher watcher;
    ASSERT_TRUE(watcher.start());
    EXPECT_TRUE(waitFor([&] { return !watcher.items().isEmpty(); }))
        << "the item registers with the late host";
    EXPECT_TRUE(waitFor([] { return panelWindows().isEmpty(); })) << "and the window goes away";
}

TEST_F(TrayTest, WithoutAnyTrayThePanelIsAnOrdinaryWindow) {
    launch();
    ASSERT_TRUE(waitFor([] { return panelWindows().size() == 1; }, 15000));
    // Mapped at its full size, so that a window manager places it where it fits.
    EXPECT_GT(windowGeometry(panelWindows().first()).height(), 200);
}

TEST_F(TrayTest, TwentySimultaneousLaunchesLeaveOneProcess) {
    std::vector<QProcess*> all;
    for (int i = 0; i < 20; ++i)
        all.push_back(launch({QStringLiteral("ULMET_NO_TRAY=1")}));
    // Every later launch hands over to the first and exits 0.
    EXPECT_TRUE(waitFor(
        [&] {
            return std::count_if(all.begin(), all.end(),
                                 [](QProcess* p) { return p->state() == QProcess::NotRunning; }) == 19;
        },
        30000));
    for (QProcess* p : all) {
        if (p->state() == QProcess::NotRunning) {
            EXPECT_EQ(p->exitCode(), 0);
        }
    }
    QThread::msleep(500);
    EXPECT_EQ(
        std::count_if(all.begin(), all.end(), [](QProcess* p) { return p->state() != QProcess::NotRunning; }),
        1);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
