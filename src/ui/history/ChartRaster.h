#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>

#include <span>

// Antialiased areas and thick lines drawn straight into an image, column by column. QPainter's
// rasteriser pays for every scan line an outline crosses: a month of jagged readings (2,500
// points, each segment hundreds of pixels tall) takes it over a second, here a few milliseconds.
// Points are in the image's pixels, x ascending; the image is ARGB32_Premultiplied.
namespace ChartRaster {

// Blends `color` over the region between the polyline and the row `baseY` (below it).
void fillArea(QImage& image, std::span<const QPointF> points, double baseY, const QColor& color);

// Blends a line of `width` pixels along the polyline (round ends and joins).
void strokeLine(QImage& image, std::span<const QPointF> points, double width, const QColor& color);

} // namespace ChartRaster
