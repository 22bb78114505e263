#include "popover/IconProvider.h"

#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>

#include <cmath>

IconProvider::IconProvider()
    : QQuickImageProvider(QQuickImageProvider::Image) {}

QIcon IconProvider::icon(const QString& name) {
    return QIcon::fromTheme(name, QIcon(QStringLiteral(":/icons/") + name + QStringLiteral(".svg")));
}

QImage IconProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize) {
    const qsizetype mark = id.indexOf(QLatin1Char('?'));
    const QString name = mark < 0 ? id : id.left(mark);
    const QColor tint = mark < 0 ? QColor() : QColor(id.mid(mark + 1));
    // The size asked for is in device pixels; the icon is drawn for the screen's pixel ratio and
    // keeps its logical size.
    const qreal dpr = qGuiApp ? qGuiApp->devicePixelRatio() : 1;
    const int asked = std::max(requestedSize.width(), requestedSize.height());
    const int logical = asked > 0 ? std::max(1, int(std::lround(asked / dpr))) : 16;
    // A tinted icon is one of the panel's own symbols: always ours, whatever the theme draws
    // under that name (a theme's arrows can be all but invisible in another colour).
    const QString own = QStringLiteral(":/icons/") + name + QStringLiteral(".svg");
    const QIcon source = tint.isValid() && QFile::exists(own) ? QIcon(own) : icon(name);
    QImage image = source.pixmap(QSize(logical, logical), dpr)
                       .toImage()
                       .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int side = int(std::lround(logical * dpr));
    if (image.isNull()) {
        image = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
    }
    if (tint.isValid()) {
        QPainter p(&image);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(image.rect(), tint);
    }
    image.setDevicePixelRatio(dpr);
    if (size)
        *size = image.size();
    return image;
}
