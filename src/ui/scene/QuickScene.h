#pragma once

#include "shell/Scene.h"

#include <memory>

class PopoverWindow;
class SceneWindows;

// The scene of Qt Quick windows: the panel (kept once made) and the settings and history windows.
class QuickScene : public Scene {
public:
    explicit QuickScene(const Parts& parts);
    ~QuickScene() override;

    void showPanel(std::optional<QRect> anchor) override;
    void togglePanel(std::optional<QRect> anchor) override;
    void hidePanel() override;
    void setPanelMode(PanelMode mode) override;
    void openSettings() override;
    void openHistory() override;

private:
    std::unique_ptr<PopoverWindow> m_popover;
    std::unique_ptr<SceneWindows> m_windows;
};
