// A stand-in StatusNotifierItem host for the tray benchmark: owns org.kde.StatusNotifierWatcher on
// the session bus and prints "registered <service> <wall-clock ns>" when an item registers.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>

#include <cstdio>
#include <ctime>

class Watcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ host)
    Q_PROPERTY(int ProtocolVersion READ version)
public:
    QStringList items() const { return m_items; }
    bool host() const { return true; }
    int version() const { return 0; }
public slots:
    void RegisterStatusNotifierItem(const QString& service) {
        timespec t{};
        clock_gettime(CLOCK_REALTIME, &t);
        const QString name = service.startsWith(QLatin1Char('/')) ? message().service() : service;
        m_items.push_back(name);
        std::printf("registered %s %lld\n", qPrintable(name),
                    static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec);
        std::fflush(stdout);
        emit StatusNotifierItemRegistered(name);
    }
    void RegisterStatusNotifierHost(const QString&) {}
signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    QStringList m_items;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Watcher watcher;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties) ||
        !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "SniWatcher.moc"
