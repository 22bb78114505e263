#include "scene/QuickScene.h"

#include "popover/PopoverWindow.h"
#include "scene/SceneWindows.h"

QuickScene::QuickScene(const Parts& parts)
    : m_popover(std::make_unique<PopoverWindow>(parts.store, parts.profiles, parts.actions, parts.mode))
    , m_windows(std::make_unique<SceneWindows>(parts.store)) {}

QuickScene::~QuickScene() = default;

void QuickScene::showPanel(std::optional<QRect> anchor) {
    m_popover->show(anchor);
}

void QuickScene::togglePanel(std::optional<QRect> anchor) {
    m_popover->toggle(anchor);
}

void QuickScene::hidePanel() {
    m_popover->hide();
}

void QuickScene::setPanelMode(PanelMode mode) {
    m_popover->setMode(mode);
}

void QuickScene::openSettings() {
    m_windows->openSettings();
}

void QuickScene::openHistory() {
    m_windows->openHistory();
}
