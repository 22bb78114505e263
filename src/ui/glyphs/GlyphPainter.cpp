#include "glyphs/GlyphPainter.h"

#include "usage/UsageWindow.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

// Battery body and terminal.
constexpr qreal kBatteryW = 26, kBatteryH = 13, kTerminalW = 2, kTerminalH = 5, kTerminalGap = 1;
// Bar.
constexpr qreal kBarW = 24, kBarH = 6, kBarMarkerH = 10, kBarTextGap = 3;
// Ring.
constexpr qreal kRing = 14, kRingLine = 2.5;
// Compact dot.
constexpr qreal kDot = 8;
constexpr qreal kBadgeGap = 3;
constexpr qreal kLabelMargin = 1, kLabelSpacing = 8, kEmptySpacing = 3;

QFont digitsFont(qreal pixels, bool semibold = false) {
    QFont font;
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels))));
    if (semibold)
        font.setWeight(QFont::DemiBold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QColor withAlpha(QColor c, qreal opacity) {
    c.setAlphaF(static_cast<float>(c.alphaF() * opacity));
    return c;
}

qreal textWidth(const QString& text, const QFont& font) {
    return QFontMetricsF(font).horizontalAdvance(text);
}

// A capsule (fully rounded rectangle).
void capsule(QPainter& p, const QRectF& r, const QColor& c) {
    const qreal radius = std::min(r.width(), r.height()) / 2;
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(r, radius, radius);
}

void text(QPainter& p, const QRectF& box, const QString& s, const QFont& font, const QColor& c) {
    p.setFont(font);
    p.setPen(c);
    p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, s);
}

} // namespace

GlyphColors GlyphColors::dark() {
    return {QColor(255, 255, 255), QColor(255, 255, 255, 140), QColor(0xFF, 0x9F, 0x0A),
            QColor(0xFF, 0x45, 0x3A)};
}

GlyphColors GlyphColors::light() {
    return {QColor(0, 0, 0, 217), QColor(0, 0, 0, 128), QColor(0xFF, 0x95, 0x00), QColor(0xFF, 0x3B, 0x30)};
}

GlyphColors GlyphColors::forBackground(const QColor& panel) {
    return panel.lightnessF() > 0.6 ? light() : dark();
}

namespace GlyphPainter {

QColor levelColor(double util, const QColor& tint, const GlyphColors& colors) {
    if (util >= 90)
        return colors.red;
    if (util >= 70)
        return colors.orange;
    return tint;
}

QString percentText(double util) {
    return QString::fromStdString(UsageWindow::percentText(util));
}

QSizeF drawingSize(MenuBarStyle style, double util, bool barText) {
    switch (style) {
    case MenuBarStyle::batteryClassic:
        return {kBatteryW + kTerminalGap + kTerminalW, kBatteryH};
    case MenuBarStyle::progressBar:
        if (!barText)
            return {kBarW, kBarMarkerH};
        return {kBarW + kBarTextGap + textWidth(percentText(util), digitsFont(11)), kBarMarkerH};
    case MenuBarStyle::percentage: {
        const QFont font = digitsFont(12);
        return {textWidth(percentText(util), font), QFontMetricsF(font).height()};
    }
    case MenuBarStyle::iconWithBar:
        return {kRing, kRing};
    case MenuBarStyle::compact:
        return {kDot, kDot};
    }
    return {};
}

void paintDrawing(QPainter& p, QPointF origin, const GlyphMetric& m, const GlyphColors& colors,
                  bool barText) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    const QSizeF size = drawingSize(m.style, m.util, barText);
    const QColor level = levelColor(m.util, m.tint, colors);
    const double clamped = std::clamp(std::isfinite(m.util) ? m.util : 0.0, 0.0, 100.0);
    const qreal x = origin.x(), y = origin.y();
    switch (m.style) {
    case MenuBarStyle::batteryClassic: {
        const qreal top = y + (size.height() - kBatteryH) / 2;
        // Outline: stroked inside the W × H box.
        p.setPen(QPen(withAlpha(colors.primary, 0.55), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(x + 0.5, top + 0.5, kBatteryW - 1, kBatteryH - 1), 3, 3);
        // Fill, at least a 2-point sliver.
        const qreal fillW = std::max((kBatteryW - 4) * clamped / 100, 2.0);
        p.setPen(Qt::NoPen);
        p.setBrush(level);
        p.drawRoundedRect(QRectF(x + 2, top + 2, fillW, kBatteryH - 4), 1.5, 1.5);
        if (m.elapsed) {
            const qreal dx = std::min(kBatteryW - 1, (kBatteryW - 2) * std::clamp(*m.elapsed, 0.0, 1.0) + 1);
            p.fillRect(QRectF(x + dx, top + 0.5, 1, kBatteryH - 1), withAlpha(colors.primary, 0.7));
        }
        capsule(
            p,
            QRectF(x + kBatteryW + kTerminalGap, top + (kBatteryH - kTerminalH) / 2, kTerminalW, kTerminalH),
            withAlpha(colors.primary, 0.55));
        break;
    }
    case MenuBarStyle::progressBar: {
        const qreal mid = y + size.height() / 2;
        capsule(p, QRectF(x, mid - kBarH / 2, kBarW, kBarH), withAlpha(colors.primary, 0.22));
        capsule(p, QRectF(x, mid - kBarH / 2, std::max(kBarW * clamped / 100, 2.0), kBarH), level);
        if (m.elapsed) {
            const qreal dx = std::min(kBarW - 1, kBarW * std::clamp(*m.elapsed, 0.0, 1.0));
            p.fillRect(QRectF(x + dx, mid - kBarMarkerH / 2, 1, kBarMarkerH), withAlpha(colors.primary, 0.7));
        }
        if (!barText)
            break;
        const qreal textX = x + kBarW + kBarTextGap;
        text(p, QRectF(textX, y, size.width() - kBarW - kBarTextGap + 1, size.height()), percentText(m.util),
             digitsFont(11), colors.primary);
        break;
    }
    case MenuBarStyle::percentage:
        text(p, QRectF(x, y, size.width() + 1, size.height()), percentText(m.util), digitsFont(12),
             colors.primary);
        break;
    case MenuBarStyle::iconWithBar: {
        // The stroke is centred on a circle inset by half the line width.
        const QRectF circle(x + kRingLine / 2, y + kRingLine / 2, kRing - kRingLine, kRing - kRingLine);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(withAlpha(colors.primary, 0.22), kRingLine));
        p.drawEllipse(circle);
        const double f = m.util > 100 ? 1.0 : std::max(0.0, std::isfinite(m.util) ? m.util / 100 : 0.0);
        if (f > 0) {
            QPen pen(level, kRingLine);
            pen.setCapStyle(Qt::RoundCap);
            p.setPen(pen);
            // Qt's angles run counter-clockwise from three o'clock, in 1/16 degree: start at the
            // top (90°) and sweep clockwise (negative).
            const int span = -static_cast<int>(std::lround(f * 360 * 16));
            if (f >= 1)
                p.drawEllipse(circle);
            else
                p.drawArc(circle, 90 * 16, span);
        }
        break;
    }
    case MenuBarStyle::compact:
        p.setPen(Qt::NoPen);
        p.setBrush(level);
        p.drawEllipse(QRectF(x, y, kDot, kDot));
        break;
    }
    p.restore();
}

QSizeF glyphSize(const GlyphMetric& m) {
    QSizeF size = drawingSize(m.style, m.util);
    if (m.remaining) {
        const QFont font = digitsFont(10);
        size.setWidth(size.width() + kBadgeGap + textWidth(*m.remaining, font));
        size.setHeight(std::max(size.height(), QFontMetricsF(font).height()));
    }
    return size;
}

void paintGlyph(QPainter& p, QPointF origin, const GlyphMetric& m, const GlyphColors& colors) {
    const QSizeF whole = glyphSize(m);
    const QSizeF drawing = drawingSize(m.style, m.util);
    paintDrawing(p, QPointF(origin.x(), origin.y() + (whole.height() - drawing.height()) / 2), m, colors);
    if (m.remaining) {
        const QFont font = digitsFont(10);
        text(p,
             QRectF(origin.x() + drawing.width() + kBadgeGap, origin.y(), textWidth(*m.remaining, font) + 1,
                    whole.height()),
             *m.remaining, font, colors.secondary);
    }
}

void paintGauge(QPainter& p, const QRectF& box, const QColor& color) {
    // A speedometer: an open arc over the lower corners and a needle from the centre.
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const qreal s = std::min(box.width(), box.height());
    const QRectF r(box.center().x() - s / 2, box.center().y() - s / 2, s, s);
    const qreal line = std::max(1.0, s * 0.11);
    const QRectF arc = r.adjusted(line / 2, line / 2, -line / 2, -line / 2);
    QPen pen(color, line);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawArc(arc, -40 * 16, 260 * 16);
    const QPointF c = r.center();
    const qreal len = s * 0.34;
    p.drawLine(c, c + QPointF(len * std::cos(-0.9), len * std::sin(-0.9)));
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(c, line * 0.9, line * 0.9);
    p.restore();
}

QImage wideLabel(const std::vector<GlyphMetric>& metrics, qreal scale, const GlyphColors& colors) {
    QSizeF content(0, 0);
    const QFont dashFont = digitsFont(12);
    const qreal gauge = 14;
    if (metrics.empty()) {
        content = QSizeF(gauge + kEmptySpacing + textWidth(QStringLiteral("–"), dashFont),
                         std::max(gauge, QFontMetricsF(dashFont).height()));
    } else {
        for (std::size_t i = 0; i < metrics.size(); ++i) {
            const QSizeF g = glyphSize(metrics[i]);
            content.setWidth(content.width() + g.width() + (i ? kLabelSpacing : 0));
            content.setHeight(std::max(content.height(), g.height()));
        }
    }
    const QSizeF total(content.width() + 2 * kLabelMargin, content.height() + 2 * kLabelMargin);
    QImage image(QSize(static_cast<int>(std::ceil(total.width() * scale)),
                       static_cast<int>(std::ceil(total.height() * scale))),
                 QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    QPainter p(&image);
    if (metrics.empty()) {
        paintGauge(p, QRectF(kLabelMargin, kLabelMargin + (content.height() - gauge) / 2, gauge, gauge),
                   colors.primary);
        text(p, QRectF(kLabelMargin + gauge + kEmptySpacing, kLabelMargin, content.width(), content.height()),
             QStringLiteral("–"), dashFont, colors.primary);
        return image;
    }
    qreal x = kLabelMargin;
    for (const GlyphMetric& m : metrics) {
        const QSizeF g = glyphSize(m);
        paintGlyph(p, QPointF(x, kLabelMargin + (content.height() - g.height()) / 2), m, colors);
        x += g.width() + kLabelSpacing;
    }
    return image;
}

QImage trayIcon(const std::vector<GlyphMetric>& metrics, int pixels, const GlyphColors& colors) {
    QImage image(QSize(pixels, pixels), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    const qreal side = pixels;
    if (metrics.empty()) {
        const qreal inset = side * 0.08;
        paintGauge(p, QRectF(inset, inset, side - 2 * inset, side - 2 * inset), colors.primary);
        return image;
    }
    // Each metric gets a cell (the whole square, or one half of it) and its drawing is scaled to
    // fit the cell, centred; the badge goes to the tooltip.
    const std::size_t shown = std::min<std::size_t>(metrics.size(), 2);
    const qreal cellH = side / static_cast<qreal>(shown);
    for (std::size_t i = 0; i < shown; ++i) {
        const GlyphMetric& m = metrics[i];
        const QSizeF size = drawingSize(m.style, m.util, false);
        const qreal pad = shown == 1 ? side * 0.04 : side * 0.03;
        const qreal scale = std::min((side - 2 * pad) / size.width(), (cellH - 2 * pad) / size.height());
        p.save();
        p.translate((side - size.width() * scale) / 2,
                    cellH * static_cast<qreal>(i) + (cellH - size.height() * scale) / 2);
        p.scale(scale, scale);
        GlyphMetric drawn = m;
        drawn.remaining.reset();
        paintDrawing(p, QPointF(0, 0), drawn, colors, false);
        p.restore();
    }
    return image;
}

} // namespace GlyphPainter
