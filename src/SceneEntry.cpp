// The windows made of Qt Quick (the panel, the settings, the history), loaded by the program
// module (ulmet-full.so, which it links against) when the first of them opens.

#include "scene/QuickScene.h"

#include <QGuiApplication>
#include <QIcon>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QtQml/qqmlextensionplugin.h>
Q_IMPORT_QML_PLUGIN(MeterKeeperPlugin)

extern "C" __attribute__((visibility("default"))) Scene* ulmet_scene_create(const Scene::Parts* parts) {
    // The software scene graph keeps Mesa's GL stack out of the process (about 50 MB resident
    // with the panel shown, against 130 MB); QT_QUICK_BACKEND still chooses another.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // Set here, with the first window: an SVG icon loads Qt's SVG engine, which the tray alone
    // does not need.
    QGuiApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("io.github.ulmet.MeterKeeper"),
                         QIcon(QStringLiteral(":/app/io.github.ulmet.MeterKeeper.svg"))));
    return new QuickScene(*parts);
}
