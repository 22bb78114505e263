#include "bus/BusClient.h"

#include "base/Json.h"
#include "bus/BusInterface.h"
#include "claude/AccountSteps.h"
#include "cli/Verbs.h"
#include "platform/Translations.h"
#include "readings/WaybarOutput.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace BusClient {
namespace {

using Verbs::kFailed;
using Verbs::kNoSuchProfile;
using Verbs::kUsage;

// A switch may wait behind a cycle or another switch on the running store's lane.
constexpr int kSwitchTimeoutMs = 120'000;
constexpr int kCallTimeoutMs = 10'000;
// How long a MeterKeeper that owns its name may take to publish its interface: 3 s.
constexpr int kStartAttempts = 60;
constexpr int kStartPollMs = 50;

QString latin(const char* s) {
    return QString::fromLatin1(s);
}

int usageError(const std::string& message) {
    std::cerr << "ulmet: " << message << '\n' << Verbs::usage();
    return kUsage;
}

bool instanceRuns(const QDBusConnection& bus) {
    return bus.isConnected() && bus.interface()->isServiceRegistered(latin(BusInterface::kService)).value();
}

QDBusMessage call(const QDBusConnection& bus, const char* method, const QVariantList& args, int timeoutMs) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(latin(BusInterface::kService), latin(BusInterface::kPath),
                                       latin(BusInterface::kInterface), latin(method));
    message.setArguments(args);
    // A MeterKeeper that has just taken its name publishes its interface a moment later.
    QDBusMessage reply;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        reply = bus.call(message, QDBus::Block, timeoutMs);
        if (reply.type() != QDBusMessage::ErrorMessage ||
            reply.errorName() != QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"))
            break;
        QThread::msleep(kStartPollMs);
    }
    return reply;
}

// The running instance's readings document; none when no instance answers.
std::optional<std::string> runningReadings(const QDBusConnection& bus) {
    if (!instanceRuns(bus))
        return std::nullopt;
    const QDBusMessage reply = call(bus, "Readings", {}, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().constFirst().toString().toStdString();
}

std::string waybarLine(const std::string& document) {
    return WaybarOutput::line(Json::parse(document).value_or(nlohmann::json()),
                              std::chrono::system_clock::now());
}

int switchProfile(const QDBusConnection& bus, const std::string& query) {
    if (!instanceRuns(bus))
        return kDoItAlone;
    const QDBusMessage reply = call(bus, "Switch", {QString::fromStdString(query)}, kSwitchTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        std::cerr << reply.errorMessage().toStdString() << '\n';
        const QString name = reply.errorName();
        return name == latin(BusInterface::kUnknownProfile) || name == latin(BusInterface::kAmbiguousProfile)
                   ? kNoSuchProfile
                   : kFailed;
    }
    // The message names the profile now active, whichever way the caller named it.
    std::string name = query;
    if (const auto document = runningReadings(bus))
        if (const auto doc = Json::parse(*document);
            doc && doc->contains("profiles") && (*doc)["profiles"].is_array())
            for (const auto& p : (*doc)["profiles"])
                if (p.is_object() && p.value("active", false) &&
                    p.value("name", nlohmann::json()).is_string())
                    name = p["name"].get<std::string>();
    std::cout << AccountSteps::switchedMessage(name) << '\n';
    return 0;
}

int refresh(const QDBusConnection& bus) {
    if (!instanceRuns(bus)) {
        std::cerr << "ulmet: MeterKeeper is not running; nothing to refresh (ulmet --check reads every "
                     "profile once)\n";
        return kFailed;
    }
    const QDBusMessage reply = call(bus, "Refresh", {}, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        std::cerr << "ulmet: " << reply.errorMessage().toStdString() << '\n';
        return kFailed;
    }
    return 0;
}

// `--waybar --watch`: a line now, then one at every change the running MeterKeeper announces,
// and the line for "not running" while none runs. Sleeps in between: the bus wakes it.
class WaybarFollower : public QObject {
    Q_OBJECT
public:
    explicit WaybarFollower(QDBusConnection bus)
        : m_bus(std::move(bus))
        , m_watcher(latin(BusInterface::kService), m_bus, QDBusServiceWatcher::WatchForOwnerChange) {
        m_bus.connect(latin(BusInterface::kService), latin(BusInterface::kPath),
                      latin(BusInterface::kInterface), QStringLiteral("ReadingsChanged"), this,
                      SLOT(changed(QString)));
        connect(&m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& owner) {
                    if (owner.isEmpty())
                        print(WaybarOutput::notRunningLine());
                    else
                        askSoon(0);
                });
        if (instanceRuns(m_bus))
            askSoon(0);
        else
            print(WaybarOutput::notRunningLine());
    }

private slots:
    void changed(const QString& document) { print(waybarLine(document.toStdString())); }

private:
    // A MeterKeeper that has just taken its name publishes its readings a moment later.
    void askSoon(int attempt) {
        QTimer::singleShot(attempt == 0 ? 0 : 200, this, [this, attempt] {
            if (const auto document = runningReadings(m_bus))
                print(waybarLine(*document));
            else if (attempt < 25 && instanceRuns(m_bus))
                askSoon(attempt + 1);
        });
    }

    void print(const std::string& line) {
        if (line == m_last)
            return;
        m_last = line;
        std::cout << line << '\n' << std::flush;
        if (!std::cout) // the bar went away
            QCoreApplication::exit(kFailed);
    }

    QDBusConnection m_bus;
    QDBusServiceWatcher m_watcher;
    std::string m_last;
};

} // namespace

int run(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const Verbs::Command command = Verbs::parse(argc, argv);
    if (command.error || command.option().runs != Verbs::Runs::busClient)
        return usageError(command.error.value_or("not a verb for scripts"));

    QCoreApplication app(argc, argv);
    const Translations translations;
    QCoreApplication::setApplicationName(QStringLiteral("MeterKeeper"));
    const QDBusConnection bus = QDBusConnection::sessionBus();
    switch (command.verb) {
    case Verbs::Verb::switchTo:
        return switchProfile(bus, command.operand);
    case Verbs::Verb::refresh:
        return refresh(bus);
    case Verbs::Verb::waybar:
        if (command.watch) {
            if (!bus.isConnected()) {
                std::cout << WaybarOutput::notRunningLine() << '\n' << std::flush;
                std::cerr << "ulmet: no session bus to follow MeterKeeper on\n";
                return kFailed;
            }
            WaybarFollower follower(bus);
            return QCoreApplication::exec();
        }
        break;
    default:
        break;
    }
    const auto document = runningReadings(bus);
    if (!document)
        return kDoItAlone;
    std::cout << (command.verb == Verbs::Verb::waybar ? waybarLine(*document) : *document) << '\n'
              << std::flush;
    return 0;
}

} // namespace BusClient

#include "BusClient.moc"
