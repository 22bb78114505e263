#include "history/ChartRaster.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// Sub-columns per pixel column: the horizontal antialiasing.
constexpr int kSub = 4;
constexpr double kInf = std::numeric_limits<double>::infinity();

// A pixel index from a coordinate of any size (absurd data included), within [lo, hi].
int toPixel(double v, int lo, int hi) {
    if (!(v >= lo))
        return lo;
    return v >= hi ? hi : static_cast<int>(v);
}

// A premultiplied colour, blended with a coverage between 0 and 1.
struct Ink {
    explicit Ink(const QColor& c)
        : a(c.alphaF())
        , r(c.redF() * a * 255)
        , g(c.greenF() * a * 255)
        , b(c.blueF() * a * 255) {}
    double a, r, g, b;

    void blend(QRgb& pixel, double coverage) const {
        const double keep = 1 - a * coverage;
        auto channel = [&](int dst, double src) {
            return static_cast<int>(src * coverage + dst * keep + 0.5); // never above 255
        };
        pixel = qRgba(channel(qRed(pixel), r), channel(qGreen(pixel), g), channel(qBlue(pixel), b),
                      channel(qAlpha(pixel), 255 * a));
    }
};

double overlap(double row, double top, double bottom) {
    return std::max(0.0, std::min(row + 1, bottom) - std::max(row, top));
}

// Blends column `x` where kSub spans [top[s], bottom[s]] (empty when top > bottom) cover it.
void blendColumn(QImage& image, int x, const double (&top)[kSub], const double (&bottom)[kSub],
                 const Ink& ink) {
    double lo = kInf, hi = -kInf, solidFrom = -kInf, solidTo = kInf;
    int spans = 0;
    for (int s = 0; s < kSub; ++s) {
        if (!(top[s] <= bottom[s]))
            continue;
        ++spans;
        lo = std::min(lo, top[s]);
        hi = std::max(hi, bottom[s]);
        solidFrom = std::max(solidFrom, top[s]);
        solidTo = std::min(solidTo, bottom[s]);
    }
    if (spans == 0)
        return;
    const int first = toPixel(std::floor(lo), 0, image.height());
    const int last = toPixel(std::ceil(hi), 0, image.height()) - 1;
    const double full = static_cast<double>(spans) / kSub;
    uchar* const bits = image.bits(); // one detach check, not one per pixel
    const qsizetype stride = image.bytesPerLine();
    for (int row = first; row <= last; ++row) {
        double coverage;
        if (row >= solidFrom && row + 1 <= solidTo) {
            coverage = full; // inside every span
        } else {
            coverage = 0;
            for (int s = 0; s < kSub; ++s)
                if (top[s] <= bottom[s])
                    coverage += overlap(row, top[s], bottom[s]);
            coverage /= kSub;
        }
        if (coverage > 0)
            ink.blend(reinterpret_cast<QRgb*>(bits + row * stride)[x], coverage);
    }
}

// The polyline's y at x, walking `i` forward (x ascending between calls).
double heightAt(std::span<const QPointF> points, std::size_t& i, double x) {
    while (i + 2 < points.size() && points[i + 1].x() < x)
        ++i;
    const QPointF& a = points[i];
    const QPointF& b = points[i + 1];
    if (b.x() <= a.x())
        return b.y();
    const double t = std::clamp((x - a.x()) / (b.x() - a.x()), 0.0, 1.0);
    return a.y() + t * (b.y() - a.y());
}

} // namespace

namespace ChartRaster {

void fillArea(QImage& image, std::span<const QPointF> points, double baseY, const QColor& color) {
    if (points.size() < 2 || image.format() != QImage::Format_ARGB32_Premultiplied)
        return;
    const Ink ink(color);
    const double xFirst = points.front().x(), xLast = points.back().x();
    const int c0 = toPixel(std::floor(xFirst), 0, image.width());
    const int c1 = toPixel(std::ceil(xLast), -1, image.width() - 1);
    std::size_t i = 0;
    for (int c = c0; c <= c1; ++c) {
        double top[kSub], bottom[kSub];
        for (int s = 0; s < kSub; ++s) {
            const double x = c + (s + 0.5) / kSub;
            if (x < xFirst || x > xLast) {
                top[s] = kInf; // outside the data: nothing
                bottom[s] = -kInf;
                continue;
            }
            top[s] = std::min(heightAt(points, i, x), baseY);
            bottom[s] = baseY;
        }
        blendColumn(image, c, top, bottom, ink);
    }
}

void strokeLine(QImage& image, std::span<const QPointF> points, double width, const QColor& color) {
    if (points.empty() || image.format() != QImage::Format_ARGB32_Premultiplied || !(width > 0))
        return;
    const Ink ink(color);
    const double radius = width / 2;
    // The lowest and highest point of the line in every cell of a fine grid along x.
    // Only the cells the image shows (and a radius beyond its sides) are kept.
    constexpr double cell = 1.0 / kSub;
    const double origin = std::max(std::floor(points.front().x() - radius), -std::ceil(radius)) - 1;
    const double end = std::min(points.back().x() + radius, image.width() + radius) + 1;
    if (!(end > origin))
        return;
    const auto cells = static_cast<std::size_t>(std::ceil((end - origin) / cell)) + 1;
    std::vector<double> minY(cells, kInf), maxY(cells, -kInf);
    auto cellOf = [&](double x) {
        const double k = std::floor((x - origin) / cell);
        return !(k > 0) ? std::size_t(0) : k >= double(cells - 1) ? cells - 1 : static_cast<std::size_t>(k);
    };
    auto mark = [&](double x, double y) {
        const std::size_t k = cellOf(x);
        minY[k] = std::min(minY[k], y);
        maxY[k] = std::max(maxY[k], y);
    };
    if (points.size() == 1 && points[0].x() >= origin && points[0].x() <= end)
        mark(points[0].x(), points[0].y());
    for (std::size_t j = 1; j < points.size(); ++j) {
        const QPointF& a = points[j - 1];
        const QPointF& b = points[j];
        const double from = std::max(a.x(), origin), to = std::min(b.x(), end);
        if (from > to)
            continue;           // outside the image
        if (!(b.x() > a.x())) { // upright: all of it in one cell
            mark(from, a.y());
            mark(from, b.y());
            continue;
        }
        auto at = [&](double x) { return a.y() + (x - a.x()) / (b.x() - a.x()) * (b.y() - a.y()); };
        for (std::size_t k = cellOf(from), last = cellOf(to); k <= last; ++k) {
            const double xs = std::max(from, origin + k * cell);
            const double xe = std::min(to, origin + (k + 1) * cell);
            mark(xs, at(xs)); // a straight piece: its extremes are at its ends
            mark(std::max(xs, xe), at(xe));
        }
    }
    // Every sub-column takes the span of a disc of the line's radius moved along the line.
    const int c0 = toPixel(std::floor(points.front().x() - radius), 0, image.width());
    const int c1 = toPixel(std::ceil(points.back().x() + radius), -1, image.width() - 1);
    for (int c = c0; c <= c1; ++c) {
        double top[kSub], bottom[kSub];
        for (int s = 0; s < kSub; ++s) {
            const double x = c + (s + 0.5) / kSub;
            top[s] = kInf;
            bottom[s] = -kInf;
            const std::size_t k0 = cellOf(x - radius), k1 = cellOf(x + radius);
            for (std::size_t k = k0; k <= k1; ++k) {
                if (minY[k] == kInf)
                    continue;
                const double dx = origin + (k + 0.5) * cell - x;
                if (std::abs(dx) > radius)
                    continue;
                const double reach = std::sqrt(radius * radius - dx * dx);
                top[s] = std::min(top[s], minY[k] - reach);
                bottom[s] = std::max(bottom[s], maxY[k] + reach);
            }
        }
        blendColumn(image, c, top, bottom, ink);
    }
}

} // namespace ChartRaster
