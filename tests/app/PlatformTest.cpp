// Notifications and the login item. Runs on a private session bus (with-secret-service.sh
// --bus-only), where a fake notification service records what it is sent.

#include "platform/LaunchAtLogin.h"
#include "platform/Notifier.h"

#include "ScopedEnv.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QObject>
#include <QVariantMap>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace testsupport;

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Received {
        QString app;
        uint replaces;
        QString summary;
        QString body;
        QVariantMap hints;
    };
    std::vector<Received> received;

public slots:
    uint Notify(const QString& app, uint replaces, const QString& /*icon*/, const QString& summary,
                const QString& body, const QStringList& /*actions*/, const QVariantMap& hints,
                int /*timeout*/) {
        received.push_back({app, replaces, summary, body, hints});
        return static_cast<uint>(received.size());
    }
};

namespace {

void pumpUntil(const std::function<bool()>& done, int ms = 3000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

TEST(NotifierTest, EachCallPostsANewNotificationWithTheDefaultSound) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected()) << "runs on a private session bus";
    FakeNotifications fake;
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                   QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
    Notifier::notify(QStringLiteral("アカウント自動切替"), QStringLiteral("一つ目"));
    Notifier::notify(QStringLiteral("アカウント自動切替"), QStringLiteral("二つ目"));
    pumpUntil([&] { return fake.received.size() == 2; });
    ASSERT_EQ(fake.received.size(), 2u);
    EXPECT_EQ(fake.received[0].summary, QStringLiteral("アカウント自動切替"));
    EXPECT_EQ(fake.received[1].body, QStringLiteral("二つ目"));
    EXPECT_EQ(fake.received[0].replaces, 0u) << "never replaces an earlier one";
    EXPECT_TRUE(fake.received[0].hints.contains(QStringLiteral("sound-name")));
    bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
}

TEST(NotifierTest, WithoutANotificationServiceNothingHappens) {
    QElapsedTimer timer;
    timer.start();
    Notifier::notify(QStringLiteral("t"), QStringLiteral("b"));
    EXPECT_LT(timer.elapsed(), 1000) << "returns at once";
    pumpUntil([] { return false; }, 200);
}

class LaunchAtLoginTest : public testing::Test {
protected:
    TempDir config;
    ScopedEnv xdg{"XDG_CONFIG_HOME", config.path().string()};
};

TEST_F(LaunchAtLoginTest, EnableDisableAndTheStateOfForeignEntries) {
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
    EXPECT_FALSE(LaunchAtLogin::set(false, QStringLiteral("/opt/ulmet/bin/ulmet"))) << "nothing to change";
    EXPECT_FALSE(LaunchAtLogin::set(true, QStringLiteral("/opt/my apps/ulmet")));
    EXPECT_TRUE(LaunchAtLogin::isEnabled());
    const auto text = readFile(config / "autostart/ulmet.desktop");
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("Exec=\"/opt/my apps/ulmet\"\n"), std::string::npos) << *text;
    EXPECT_NE(text->find("Type=Application"), std::string::npos);
    EXPECT_FALSE(LaunchAtLogin::set(true, QStringLiteral("/elsewhere"))) << "already on: unchanged";
    EXPECT_EQ(readFile(config / "autostart/ulmet.desktop"), text);

    writeFile(config / "autostart/ulmet.desktop", "[Desktop Entry]\nType=Application\nExec=x\nHidden=true\n");
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
    writeFile(config / "autostart/ulmet.desktop",
              "[Desktop Entry]\nExec=x\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
    writeFile(config / "autostart/ulmet.desktop", "[Desktop Entry]\nExec=x\n");
    EXPECT_TRUE(LaunchAtLogin::isEnabled());
    EXPECT_FALSE(LaunchAtLogin::set(false, QStringLiteral("x")));
    EXPECT_FALSE(fs::exists(config / "autostart/ulmet.desktop"));
}

TEST_F(LaunchAtLoginTest, AnEntryThatCannotBeWrittenIsReported) {
    writeFile(config / "autostart", "a file where the directory should be");
    const auto error = LaunchAtLogin::set(true, QStringLiteral("/usr/bin/ulmet"));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->contains(QStringLiteral("autostart"))) << error->toStdString();
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
}

} // namespace

#include "PlatformTest.moc"
