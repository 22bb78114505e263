#include "platform/Notifier.h"

#if defined(__APPLE__)
#error                                                                                                       \
    "macOS: notifications (UNUserNotificationCenter) is not implemented yet; this file is the freedesktop one."
#endif

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <QVariantMap>

namespace Notifier {

void notify(const QString& title, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("io.github.ulmet.MeterKeeper"));
    call << QStringLiteral("MeterKeeper") // application name
         << 0u                            // replaces no earlier notification: a new one each call
         << QStringLiteral("io.github.ulmet.MeterKeeper")  // icon
         << title << body << QStringList() << hints << -1; // the server's default time-out
    // Asynchronous: the answer (or the error of a missing service) is not waited for.
    bus.asyncCall(call);
}

} // namespace Notifier
