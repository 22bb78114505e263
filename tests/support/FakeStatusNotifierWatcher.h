#pragma once

#include <QDBusContext>
#include <QObject>
#include <QStringList>

namespace testsupport {

// The part of a StatusNotifierItem host (a KDE or AppIndicator panel) that a tray icon talks to:
// org.kde.StatusNotifierWatcher on the session bus, recording the items that register.
class FakeStatusNotifierWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    ~FakeStatusNotifierWatcher() override { stop(); }
    // Registers the name and the object; false when the bus refused.
    bool start();
    // Gives the name and the object up, as a panel that exits or restarts does.
    void stop();
    QStringList items() const { return m_items; }
    bool hostRegistered() const { return m_hostRegistered; }
    // A panel registers its host a moment after it takes the watcher's name.
    void setHostRegistered(bool registered);
    int protocolVersion() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString& service);
    void RegisterStatusNotifierHost(const QString& service);

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    QStringList m_items;
    bool m_hostRegistered = true;
};

} // namespace testsupport
