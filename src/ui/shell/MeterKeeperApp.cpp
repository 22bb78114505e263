#include "shell/MeterKeeperApp.h"

#include "base/Clock.h"
#include "base/Paths.h"
#include "bus/BusService.h"
#include "config/ConfigStore.h"
#include "history/HistoryStore.h"
#include "models/ProfileListModel.h"
#include "net/CurlTransport.h"
#include "platform/Notifier.h"
#include "platform/QuitOnSignal.h"
#include "platform/Translations.h"
#include "secrets/PlatformSecretStore.h"
#include "shell/SceneLoader.h"
#include "shell/Shell.h"
#include "shell/SingleInstance.h"
#include "store/Sleeper.h"
#include "store/UsageStore.h"

#include <QApplication>
#include <QDBusConnection>

#include <csignal>

namespace MeterKeeperApp {

int run(int argc, char** argv) {
    QApplication app(argc, argv); // QSystemTrayIcon needs QApplication
    QApplication::setApplicationName(QStringLiteral("MeterKeeper"));
    // No display name: Qt would append " — MeterKeeper" to every window title that does not end
    // with it, and the history window's title already names the program.
    QApplication::setDesktopFileName(QStringLiteral("io.github.ulmet.MeterKeeper"));
    QApplication::setQuitOnLastWindowClosed(false);
    std::signal(SIGPIPE, SIG_IGN);
    const Translations translations; // before the store: its first messages are in that language

    SingleInstance instance;
    if (!instance.claim())
        return 0; // the running MeterKeeper shows itself

    // Declared before the store: the store's jobs use them until the store is gone.
    CurlTransport http;
    const std::unique_ptr<SecretStore> secrets = makePlatformSecretStore();
    SystemClock clock;
    TimerSleeper sleeper;
    HistoryStore history(ConfigStore::baseDir() / "history", clock);
    UsageStore store(StoreDependencies{Services{http, *secrets, clock, Paths::homeDir()},
                                       ConfigStore::baseDir(), &history, &sleeper, &Notifier::notify});
    ProfileListModel profiles(&store);
    // Scripts and status bars (ulmet --switch, --json, --waybar) reach the store here, from the
    // moment the name is ours: also while the shell below waits for a tray.
    BusService bus(&store);
    bus.publish(QDBusConnection::sessionBus());
    Shell shell(&store, &profiles, &SceneLoader::load,
                qEnvironmentVariable("ULMET_NO_TRAY") != QStringLiteral("1"));
    QObject::connect(&instance, &SingleInstance::activated, &shell, &Shell::activate);
    QObject::connect(&bus, &BusService::activateRequested, &shell, &Shell::activate);
    QuitOnSignal quitOnSignal;
    return app.exec();
}

} // namespace MeterKeeperApp
