#pragma once

#include "shell/Scene.h"

#include <QObject>
#include <QPoint>
#include <QRect>

#include <memory>
#include <optional>

class QQuickView;
class QQmlEngine;
class UsageStore;
class ProfileListModel;

// The panel: the Popover QML in a window of its own, made on first open and then kept. As a
// popover (beside a tray icon) it is a frameless tool window that stays on top and hides on
// Escape and when it loses activation; as a plain window (no tray at all) it is an ordinary
// window titled "MeterKeeper" that the user closes.
class PopoverWindow : public QObject {
    Q_OBJECT
public:
    using Mode = Scene::PanelMode;

    PopoverWindow(UsageStore* store, ProfileListModel* profiles, PopoverActions* actions, Mode mode,
                  QObject* parent = nullptr);
    ~PopoverWindow() override;

    // Shows the panel; as a popover, placed by `anchor` (icon rectangle or pointer) unless the
    // platform places windows itself (Wayland).
    void show(std::optional<QRect> anchor = std::nullopt);
    void hide();
    void toggle(std::optional<QRect> anchor = std::nullopt);
    bool isVisible() const;
    void setMode(Mode mode);
    Mode mode() const { return m_mode; }

    // The window, once made (tests look inside).
    QQuickView* view() const { return m_view.get(); }

signals:
    void shownChanged(bool shown);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void create();
    void applyMode();

    UsageStore* m_store;
    ProfileListModel* m_profiles;
    PopoverActions* m_actions;
    Mode m_mode;
    std::unique_ptr<QQuickView> m_view;
    qint64 m_hiddenAt = 0; // a click on the icon that made us lose focus must not reopen at once
};
