#pragma once

#include <QObject>

#include <memory>

class PopoverActions;
class PopoverWindow;
class SceneWindows;
class ProfileListModel;
class TrayIcon;
class XEmbedTray;
class UsageStore;

// Ties the store to what the user sees: the tray icon (glyphs and tooltip follow the store), the
// panel it opens, and the plain window that stands in for both when the desktop has no tray.
class Shell : public QObject {
    Q_OBJECT
public:
    // `trayWanted`: whether to look for a tray at all (false: straight to the window).
    Shell(UsageStore* store, ProfileListModel* profiles, bool trayWanted, QObject* parent = nullptr);
    ~Shell() override;

    // A second launch asked us to show ourselves.
    void activate();
    PopoverWindow* popover() const { return m_popover.get(); }
    TrayIcon* tray() const { return m_tray.get(); }
    SceneWindows* windows() const { return m_windows.get(); }

private slots:
    void enterTrayIfThere();

private:
    void followTrayHosts();
    void updateTray();
    void createTray();
    void useWindowInsteadOfTray();
    void returnToTrayWhenHostRegisters();

    UsageStore* m_store;
    std::unique_ptr<PopoverActions> m_actions;
    std::unique_ptr<PopoverWindow> m_popover;
    std::unique_ptr<TrayIcon> m_tray;
    std::unique_ptr<SceneWindows> m_windows;
    std::unique_ptr<XEmbedTray> m_xembed;
    // The kind of tray Qt took for this process at its first icon (it never changes it after).
    enum class TrayKind { undecided, statusNotifier, xembed };
    TrayKind m_kind = TrayKind::undecided;
};
