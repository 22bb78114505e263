#pragma once

#include <QObject>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

// The texts of base/PlatformWords for QML: DesktopWords.text.trayPage and so on, one member per
// field of PlatformWords::Words, in this platform's set.
class DesktopWords : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QVariantMap text READ text CONSTANT)

public:
    explicit DesktopWords(QObject* parent = nullptr)
        : QObject(parent) {}
    static QVariantMap text();
};
