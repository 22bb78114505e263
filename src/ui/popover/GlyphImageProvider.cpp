#include "popover/GlyphImageProvider.h"

#include "glyphs/MenuGlyphs.h"
#include "store/UsageStore.h"

#include <QPainter>

#include <cmath>

GlyphImageProvider::GlyphImageProvider(const UsageStore* store)
    : QQuickImageProvider(QQuickImageProvider::Image)
    , m_store(store) {}

QImage GlyphImageProvider::requestImage(const QString& id, QSize* size, const QSize&) {
    constexpr qreal kScale = 2;
    QImage image;
    if (id.startsWith(QStringLiteral("label/"))) {
        image = GlyphPainter::wideLabel(menuGlyphs(m_store->menuMetrics()), kScale, GlyphColors::dark());
    } else if (id.startsWith(QStringLiteral("tile/"))) {
        GlyphMetric m;
        m.style = menuBarStyleFromString(id.mid(5).toStdString()).value_or(MenuBarStyle::batteryClassic);
        m.util = 60;
        m.elapsed = 0.5;
        const Rgb green = ColorPalette::color("green");
        m.tint = QColor(green.r, green.g, green.b);
        const QSizeF s = GlyphPainter::glyphSize(m);
        image = QImage(QSize(int(std::ceil(s.width() * kScale)), int(std::ceil(s.height() * kScale))),
                       QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.scale(kScale, kScale);
        GlyphPainter::paintGlyph(p, {0, 0}, m, GlyphColors::light());
    }
    image.setDevicePixelRatio(kScale); // shown at its size in points
    if (size)
        *size = image.size();
    return image;
}
