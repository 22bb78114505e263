#include "scene/SceneWindows.h"

#include "history/HistoryModel.h"
#include "models/ProfileListModel.h"
#include "popover/GlyphImageProvider.h"
#include "popover/IconProvider.h"
#include "settings/SettingsModel.h"
#include "store/UsageStore.h"

#include <QCoreApplication>
#include <QQmlEngine>
#include <QQuickView>

SceneWindows::SceneWindows(UsageStore* store, QObject* parent)
    : QObject(parent)
    , m_store(store) {}

SceneWindows::~SceneWindows() {
    delete m_settings.data();
    delete m_history.data();
}

namespace {

// A window of our QML, released (with its models) when it is closed.
QQuickView* makeWindow(UsageStore* store, const QString& title, QSize size, const QString& qml,
                       const QVariantMap& properties) {
    auto* view = new QQuickView;
    view->engine()->addImageProvider(QStringLiteral("icon"), new IconProvider);
    view->engine()->addImageProvider(QStringLiteral("glyph"), new GlyphImageProvider(store));
    view->setTitle(title);
    view->setResizeMode(QQuickView::SizeRootObjectToView);
    view->resize(size);
    view->setInitialProperties(properties);
    view->setSource(QUrl(QStringLiteral("qrc:/qt/qml/MeterKeeper/qml/") + qml));
    for (const QQmlError& e : view->errors())
        qWarning("%s", qPrintable(e.toString()));
    QObject::connect(view, &QWindow::visibleChanged, view, [view](bool visible) {
        if (!visible)
            view->deleteLater();
    });
    return view;
}

void bringForward(QQuickView* view) {
    view->show();
    view->raise();
    view->requestActivate();
}

QVariant object(QObject* o) {
    return QVariant::fromValue(o);
}

} // namespace

void SceneWindows::openSettings() {
    if (!m_settings) {
        // The models are made first, owned by the window once it exists.
        auto* profiles = new ProfileListModel(m_store);
        auto* settings = new SettingsModel(m_store, QCoreApplication::applicationFilePath());
        QQuickView* view = makeWindow(m_store, QStringLiteral("MeterKeeper"), QSize(720, 560),
                                      QStringLiteral("Settings.qml"),
                                      {{QStringLiteral("store"), object(m_store)},
                                       {QStringLiteral("profiles"), object(profiles)},
                                       {QStringLiteral("settings"), object(settings)}});
        profiles->setParent(view);
        settings->setParent(view);
        m_settings = view;
    }
    bringForward(m_settings);
}

void SceneWindows::openHistory() {
    if (!m_history) {
        auto* model = new HistoryModel(m_store);
        m_history = makeWindow(m_store, QCoreApplication::translate("SceneWindows", "MeterKeeper · 使用履歴"),
                               QSize(720, 640), QStringLiteral("History.qml"),
                               {{QStringLiteral("history"), object(model)}});
        model->setParent(m_history);
        m_history->setMinimumSize(QSize(560 + 32, 400 + 32));
    }
    bringForward(m_history);
}
