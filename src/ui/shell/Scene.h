#pragma once

#include <QObject>
#include <QRect>

#include <functional>
#include <memory>
#include <optional>

class ProfileListModel;
class UsageStore;

// What the panel's buttons ask of the shell.
class PopoverActions : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    Q_INVOKABLE void openHistory() { emit historyRequested(); }
    Q_INVOKABLE void openSettings() { emit settingsRequested(); }
    Q_INVOKABLE void quit() { emit quitRequested(); }
signals:
    void historyRequested();
    void settingsRequested();
    void quitRequested();
};

// The windows made of Qt Quick: the panel, the settings and the history. They come from a module
// of their own (ulmet-scene.so) that the shell loads when the first of them opens, so a tray that
// nobody clicks does not carry Qt Quick and QML.
class Scene {
public:
    // Beside a tray icon the panel is a popover; without a tray it is the program's main window.
    enum class PanelMode { popover, window };

    struct Parts {
        UsageStore* store = nullptr;
        ProfileListModel* profiles = nullptr;
        PopoverActions* actions = nullptr;
        PanelMode mode = PanelMode::popover;
    };
    // Makes the scene; null (the reason told on standard error) when it cannot be loaded.
    using Factory = std::function<std::unique_ptr<Scene>(const Parts&)>;

    virtual ~Scene() = default;
    // As a popover, placed by `anchor` (icon rectangle or pointer) unless the platform places
    // windows itself (Wayland).
    virtual void showPanel(std::optional<QRect> anchor) = 0;
    virtual void togglePanel(std::optional<QRect> anchor) = 0;
    virtual void hidePanel() = 0;
    virtual void setPanelMode(PanelMode mode) = 0;
    virtual void openSettings() = 0;
    virtual void openHistory() = 0;
};
