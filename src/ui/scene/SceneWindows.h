#pragma once

#include <QObject>
#include <QPointer>
#include <QQuickView>

class UsageStore;

// The application's windows besides the panel, each at most once: opening one that exists brings
// it forward; closing one releases its QML and its state (the store stays).
class SceneWindows : public QObject {
    Q_OBJECT
public:
    explicit SceneWindows(UsageStore* store, QObject* parent = nullptr);
    ~SceneWindows() override;

    // "main": the settings, "MeterKeeper", 720 × 560.
    void openSettings();
    // "history": "MeterKeeper · 使用履歴", 720 × 640.
    void openHistory();
    QQuickView* settings() const { return m_settings; }
    QQuickView* history() const { return m_history; }

private:
    UsageStore* m_store;
    QPointer<QQuickView> m_settings;
    QPointer<QQuickView> m_history;
};
