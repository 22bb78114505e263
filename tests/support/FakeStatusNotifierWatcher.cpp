#include "FakeStatusNotifierWatcher.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace testsupport {

bool FakeStatusNotifierWatcher::start() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                              QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                  QDBusConnection::ExportAllProperties) &&
           bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

void FakeStatusNotifierWatcher::stop() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
}

void FakeStatusNotifierWatcher::RegisterStatusNotifierItem(const QString& service) {
    // An item may pass its object path instead of a bus name: then the caller is the service.
    const QString name = service.startsWith(QLatin1Char('/')) ? message().service() + service : service;
    m_items.push_back(name);
    emit StatusNotifierItemRegistered(name);
}

void FakeStatusNotifierWatcher::RegisterStatusNotifierHost(const QString&) {
    setHostRegistered(true);
}

void FakeStatusNotifierWatcher::setHostRegistered(bool registered) {
    m_hostRegistered = registered;
    if (registered)
        emit StatusNotifierHostRegistered();
}

} // namespace testsupport
