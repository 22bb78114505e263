#pragma once

#include "config/AppConfig.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QSizeF>

#include <optional>
#include <vector>

// The colours a glyph is drawn with: the panel's foreground scheme and the two warning levels.
struct GlyphColors {
    QColor primary;
    QColor secondary;
    QColor orange;
    QColor red;

    static GlyphColors dark();  // light marks for a dark panel (the default)
    static GlyphColors light(); // dark marks for a light panel
    // The scheme whose marks stand out on a panel of this background colour.
    static GlyphColors forBackground(const QColor& panel);
};

// What one glyph shows (a menu metric of the store, in the painter's own terms).
struct GlyphMetric {
    MenuBarStyle style = MenuBarStyle::batteryClassic;
    double util = 0;                  // percent, unclamped
    std::optional<double> elapsed;    // 0-1
    QColor tint;                      // the profile's colour
    std::optional<QString> remaining; // time-left badge, drawn after the glyph
};

// The menu-bar glyphs, drawn by one set of pure functions: the tray icon, the wide label of the
// settings preview, the style tiles and the tests all use these. Sizes are in points (logical
// pixels); the caller's painter transform scales them.
namespace GlyphPainter {

// Red from 90, orange from 70, else the tint (the unrounded value is compared).
QColor levelColor(double util, const QColor& tint, const GlyphColors& colors);
// "70%": rounded half away from zero.
QString percentText(double util);

// The size of a style's drawing, without the badge. `barText` false: the bar style without its
// percent text (the square tray icon, where the tooltip gives the number).
QSizeF drawingSize(MenuBarStyle style, double util, bool barText = true);
// Draws a style's drawing with its top-left corner at `origin`.
void paintDrawing(QPainter& painter, QPointF origin, const GlyphMetric& metric, const GlyphColors& colors,
                  bool barText = true);
// The drawing followed, when there is one, by the badge (spacing 3), vertically centred.
QSizeF glyphSize(const GlyphMetric& metric);
void paintGlyph(QPainter& painter, QPointF origin, const GlyphMetric& metric, const GlyphColors& colors);

// The wide label: the glyphs side by side at spacing 8 inside a margin of 1 point, or, with no
// metric, the gauge symbol and an en dash at spacing 3. Rendered at `scale` device pixels per
// point; a null image when it cannot be rendered.
QImage wideLabel(const std::vector<GlyphMetric>& metrics, qreal scale, const GlyphColors& colors);

// The tray's square icon of `pixels` × `pixels` (device-pixel-ratio 1): one metric fills it, two
// are stacked (the first above the second); with no metric, the gauge symbol.
QImage trayIcon(const std::vector<GlyphMetric>& metrics, int pixels, const GlyphColors& colors);

// The gauge symbol shown when there is nothing to show, `size` points square.
void paintGauge(QPainter& painter, const QRectF& box, const QColor& color);

} // namespace GlyphPainter
