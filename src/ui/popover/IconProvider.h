#pragma once

#include <QQuickImageProvider>

// "image://icon/<freedesktop name>[?<colour>]": the theme's icon of that name, or our own SVG of
// it when the theme has none. With a colour it is one of the panel's symbols: our own SVG (when
// we have one) tinted in that colour, so it reads on every theme.
class IconProvider : public QQuickImageProvider {
public:
    IconProvider();
    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
    // The icon itself (tray menus use it too).
    static QIcon icon(const QString& name);
};
