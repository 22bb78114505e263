#include "tray/TrayIcon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
}

TrayIcon::TrayIcon(QObject* parent)
    : QObject(parent)
    , m_menu(std::make_unique<QMenu>())
    , m_icon(std::make_unique<QSystemTrayIcon>()) {
    connect(m_menu->addAction(QStringLiteral("パネルを開く")), &QAction::triggered, this,
            &TrayIcon::panelRequested);
    m_menu->addSeparator();
    connect(m_menu->addAction(QStringLiteral("履歴…")), &QAction::triggered, this,
            &TrayIcon::historyRequested);
    connect(m_menu->addAction(QStringLiteral("設定…")), &QAction::triggered, this,
            &TrayIcon::settingsRequested);
    m_menu->addSeparator();
    connect(m_menu->addAction(QStringLiteral("終了")), &QAction::triggered, this, &TrayIcon::quitRequested);
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::MiddleClick)
                    emit activated();
            });
}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::waitForStatusNotifierWatcher(int timeoutMs) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    if (bus.interface()->isServiceRegistered(kWatcher))
        return true;
    QDBusServiceWatcher watcher(kWatcher, bus, QDBusServiceWatcher::WatchForRegistration);
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return bus.interface()->isServiceRegistered(kWatcher);
}

bool TrayIcon::hostAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
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
