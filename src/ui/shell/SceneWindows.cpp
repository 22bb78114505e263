#include "shell/SceneWindows.h"

#include "history/HistoryModel.h"
#include "popover/IconProvider.h"

#include <QQmlEngine>
#include <QQuickView>

SceneWindows::SceneWindows(UsageStore* store, QObject* parent)
    : QObject(parent)
    , m_store(store) {}

SceneWindows::~SceneWindows() {
    delete m_history.data();
}

void SceneWindows::openHistory() {
    if (!m_history) {
        auto* view = new QQuickView;
        view->engine()->addImageProvider(QStringLiteral("icon"), new IconProvider);
        view->setTitle(QStringLiteral("MeterKeeper · 使用履歴"));
        view->setResizeMode(QQuickView::SizeRootObjectToView);
        view->resize(720, 640);
        view->setMinimumSize(QSize(560 + 32, 400 + 32));
        auto* model = new HistoryModel(m_store, view);
        view->setInitialProperties({{QStringLiteral("history"), QVariant::fromValue<QObject*>(model)}});
        view->setSource(QUrl(QStringLiteral("qrc:/qt/qml/MeterKeeper/qml/History.qml")));
        for (const QQmlError& e : view->errors())
            qWarning("%s", qPrintable(e.toString()));
        // Closing releases the window, its QML and its chart state.
        connect(view, &QWindow::visibleChanged, view, [view](bool visible) {
            if (!visible)
                view->deleteLater();
        });
        m_history = view;
    }
    m_history->show();
    m_history->raise();
    m_history->requestActivate();
}
