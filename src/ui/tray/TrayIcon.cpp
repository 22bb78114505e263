#include "tray/TrayIcon.h"

#include "tray/XEmbedTray.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include <memory>

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

bool hostRegisteredOn(QDBusConnection& bus) {
    QDBusMessage get = QDBusMessage::createMethodCall(kWatcher, QStringLiteral("/StatusNotifierWatcher"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 250);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

} // namespace

TrayIcon::TrayIcon(QObject* parent)
    : QObject(parent)
    , m_menu(std::make_unique<QMenu>())
    , m_icon(std::make_unique<QSystemTrayIcon>()) {
    connect(m_menu->addAction(tr("パネルを開く")), &QAction::triggered, this, &TrayIcon::panelRequested);
    m_menu->addSeparator();
    connect(m_menu->addAction(tr("履歴…")), &QAction::triggered, this, &TrayIcon::historyRequested);
    connect(m_menu->addAction(tr("設定…")), &QAction::triggered, this, &TrayIcon::settingsRequested);
    m_menu->addSeparator();
    connect(m_menu->addAction(tr("終了")), &QAction::triggered, this, &TrayIcon::quitRequested);
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::MiddleClick)
                    emit activated();
            });
}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::hostReady() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface()->isServiceRegistered(kWatcher))
        return hostRegisteredOn(bus);
    return XEmbedTray::present();
}

bool TrayIcon::statusNotifierHostRegistered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(kWatcher) && hostRegisteredOn(bus);
}

bool TrayIcon::hostAvailable() {
#ifdef __APPLE__
    return QSystemTrayIcon::isSystemTrayAvailable();
#else
    // Asked of the desktop, not of Qt: Qt's first answer fixes StatusNotifierItem or XEmbed for the
    // whole process, and a tray that appears later is then of the kind it took.
    return statusNotifierHostRegistered() || XEmbedTray::present();
#endif
}

void TrayIcon::show() {
    m_icon->show();
}

void TrayIcon::setIcon(const QIcon& icon) {
    m_icon->setIcon(icon);
}

void TrayIcon::setToolTip(const QString& text) {
    m_icon->setToolTip(text);
}

std::optional<QRect> TrayIcon::geometry() const {
    const QRect r = m_icon->geometry();
    if (r.isEmpty())
        return std::nullopt;
    return r;
}
