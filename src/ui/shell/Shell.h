#pragma once

#include "shell/Scene.h"

#include <QObject>

#include <memory>

class ProfileListModel;
class TrayIcon;
class XEmbedTray;
class UsageStore;

// Ties the store to what the user sees: the tray icon (glyphs and tooltip follow the store), the
// panel it opens, and the plain window that stands in for both when the desktop has no tray. The
// panel and the other windows are made by `makeScene` when the first of them is wanted.
class Shell : public QObject {
    Q_OBJECT
public:
    // `trayWanted`: whether to look for a tray at all (false: straight to the window).
    Shell(UsageStore* store, ProfileListModel* profiles, Scene::Factory makeScene, bool trayWanted,
          QObject* parent = nullptr);
    ~Shell() override;

    // A second launch asked us to show ourselves.
    void activate();
    TrayIcon* tray() const { return m_tray.get(); }

private slots:
    void enterTrayIfThere();

private:
    void followTrayHosts();
    void updateTray();
    void createTray();
    void useWindowInsteadOfTray();
    void returnToTrayWhenHostRegisters();
    // The scene, made on first use; null when it cannot be loaded.
    Scene* scene();
    void setPanelMode(Scene::PanelMode mode);

    UsageStore* m_store;
    ProfileListModel* m_profiles;
    Scene::Factory m_makeScene;
    std::unique_ptr<PopoverActions> m_actions;
    std::unique_ptr<Scene> m_scene;
    bool m_sceneFailed = false;
    Scene::PanelMode m_panelMode = Scene::PanelMode::popover;
    std::unique_ptr<TrayIcon> m_tray;
    std::unique_ptr<XEmbedTray> m_xembed;
    // The kind of tray Qt took for this process at its first icon (it never changes it after).
    enum class TrayKind { undecided, statusNotifier, xembed };
    TrayKind m_kind = TrayKind::undecided;
};
