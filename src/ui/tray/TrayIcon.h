#pragma once

#include <QIcon>
#include <QObject>
#include <QRect>

#include <memory>

class QMenu;
class QSystemTrayIcon;

// Our handle on the desktop's tray: one icon with a tooltip and a context menu whose first entry
// opens the panel (some hosts open only the menu), then "履歴…", "設定…" and "終了".
class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // Whether a tray is there to take our icon at the start: a StatusNotifierItem host registered
    // with the watcher, or, while no watcher runs at all, an XEmbed tray. Qt picks
    // StatusNotifierItem or XEmbed once, when the tray is first touched, so a panel that starts
    // with us must be waited for; and the watcher's name alone is not enough (waybar takes it
    // about 150 ms before it registers its host).
    static bool hostReady();
    // Whether any tray host is there now.
    static bool hostAvailable();
    // Whether a StatusNotifierItem host is registered with a watcher now.
    static bool statusNotifierHostRegistered();

    void show();
    void setIcon(const QIcon& icon);
    void setToolTip(const QString& text);
    // The icon's screen rectangle when the host tells it (XEmbed), else none.
    std::optional<QRect> geometry() const;

signals:
    void activated();      // a click on the icon
    void panelRequested(); // from the menu
    void historyRequested();
    void settingsRequested();
    void quitRequested();

private:
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_icon;
};
