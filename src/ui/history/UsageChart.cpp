#include "history/UsageChart.h"

#include "history/ChartRaster.h"
#include "history/HistoryModel.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kHour = 3600 * 1000;
constexpr qint64 kDay = 24 * kHour;

} // namespace

UsageChart::UsageChart(QQuickItem* parent)
    : QQuickPaintedItem(parent)
    , m_font(QGuiApplication::font()) {
    m_font.setPixelSize(10);
    setAntialiasing(true);
    setOpaquePainting(false);
}

QObject* UsageChart::history() const {
    return m_history.data();
}

void UsageChart::setHistory(QObject* history) {
    auto* model = qobject_cast<HistoryModel*>(history);
    if (model == m_history)
        return;
    if (m_history)
        disconnect(m_history, nullptr, this, nullptr);
    m_history = model;
    if (m_history) {
        connect(m_history, &HistoryModel::resultChanged, this, &UsageChart::takeResult);
        connect(m_history, &HistoryModel::profilesChanged, this, &UsageChart::recolor);
    }
    takeResult();
    emit historyChanged();
}

void UsageChart::setFont(const QFont& font) {
    if (font == m_font)
        return;
    m_font = font;
    emit styleChanged();
    update();
}

void UsageChart::setTextColor(const QColor& color) {
    if (color == m_textColor)
        return;
    m_textColor = color;
    emit styleChanged();
    update();
}

void UsageChart::setGridColor(const QColor& color) {
    if (color == m_gridColor)
        return;
    m_gridColor = color;
    emit styleChanged();
    update();
}

void UsageChart::recolor() {
    bool changed = false;
    for (Series& s : m_series)
        if (const QColor color = m_history->colorOf(s.name); color != s.color) {
            s.color = color;
            changed = true;
        }
    if (changed)
        update();
}

// A copy of what to draw, taken on the main thread: painting may happen on the render thread.
void UsageChart::takeResult() {
    m_series.clear();
    if (m_history && m_history->loaded()) {
        m_from = m_history->axisMin().toMSecsSinceEpoch();
        m_to = std::max(m_history->axisMax().toMSecsSinceEpoch(), m_from + 1);
        for (const auto& [name, points] : m_history->series()) {
            Series s{name, m_history->colorOf(name), {}};
            s.points.reserve(points.size());
            for (const auto& [t, v] : points)
                s.points.emplace_back(static_cast<qreal>(t - m_from), v);
            m_series.push_back(std::move(s));
        }
    } else if (m_history) {
        // Before the first result: an empty chart over the last 24 hours.
        m_to = QDateTime::currentMSecsSinceEpoch();
        m_from = m_to - kDay;
    }
    m_marks = timeMarks(m_from, m_to);
    update();
}

std::vector<UsageChart::Mark> UsageChart::timeMarks(qint64 from, qint64 to) {
    std::vector<Mark> marks;
    const qint64 span = to - from;
    if (span <= 0)
        return marks;
    if (span <= kDay) {
        // Whole hours of local time, found on quarter hours of UTC: zones a half or three
        // quarters of an hour off UTC and changed clocks keep their marks right.
        const int every = span <= 5 * kHour ? 1 : 3;
        constexpr qint64 quarter = kHour / 4;
        for (qint64 t = (from + quarter - 1) / quarter * quarter; t <= to; t += quarter) {
            const QTime local = QDateTime::fromMSecsSinceEpoch(t).time();
            if (local.minute() == 0 && local.hour() % every == 0)
                marks.push_back({t, local.toString(QStringLiteral("H:mm"))});
        }
        return marks;
    }
    // Local midnights, counted back from the last one.
    const int every = span <= 7 * kDay ? 1 : 5;
    QDate day = QDateTime::fromMSecsSinceEpoch(to).date();
    for (;;) {
        const qint64 t = QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch();
        if (t < from)
            break;
        if (t <= to)
            marks.push_back({t, day.toString(QStringLiteral("M/d"))});
        day = day.addDays(-every);
    }
    std::reverse(marks.begin(), marks.end());
    return marks;
}

void UsageChart::paint(QPainter* painter) {
    const QFontMetricsF metrics(m_font);
    const qreal labelWidth = metrics.horizontalAdvance(QStringLiteral("100%")) + 6;
    const qreal labelHeight = metrics.height();
    const QRectF plot(labelWidth, labelHeight / 2, std::max(1.0, width() - labelWidth - 2),
                      std::max(1.0, height() - labelHeight / 2 - labelHeight - 6));
    const qreal span = static_cast<qreal>(m_to - m_from);
    auto xOf = [&](qreal msFromStart) { return plot.left() + msFromStart / span * plot.width(); };
    auto yOf = [&](qreal value) { return plot.bottom() - value / 100.0 * plot.height(); };

    painter->setFont(m_font);
    // Grid and marks: 0–100 % every 25, and the time marks.
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(QPen(m_gridColor, 1));
    for (int v = 0; v <= 100; v += 25)
        painter->drawLine(QPointF(plot.left(), std::round(yOf(v))),
                          QPointF(plot.right(), std::round(yOf(v))));
    for (const Mark& m : m_marks) {
        const qreal x = std::round(xOf(static_cast<qreal>(m.at - m_from)));
        painter->drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
    painter->setPen(m_textColor);
    for (int v = 0; v <= 100; v += 25)
        painter->drawText(QRectF(0, yOf(v) - labelHeight / 2, labelWidth - 5, labelHeight),
                          Qt::AlignRight | Qt::AlignVCenter, QString::number(v) + QLatin1Char('%'));
    qreal lastRight = -1e9;
    for (const Mark& m : m_marks) {
        const qreal x = xOf(static_cast<qreal>(m.at - m_from));
        const qreal w = metrics.horizontalAdvance(m.text);
        const qreal left = std::clamp(x - w / 2, 0.0, width() - w);
        if (left < lastRight + 4)
            continue; // never let two labels run into each other
        painter->drawText(QPointF(left, plot.bottom() + 4 + metrics.ascent()), m.text);
        lastRight = left + w;
    }

    // The series, drawn in device pixels into an image of the plot (with room for the lines'
    // ends above 100 %) and put in place in one step.
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QRectF area(std::floor(plot.left() - 2), std::floor(plot.top() - 2), std::ceil(plot.width() + 4),
                      std::ceil(plot.height() + 4));
    QImage image((area.size() * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    std::vector<QPointF> device;
    for (const Series& s : m_series) {
        device.clear();
        for (const QPointF& p : s.points)
            device.emplace_back((xOf(p.x()) - area.left()) * dpr, (yOf(p.y()) - area.top()) * dpr);
        QColor fill = s.color;
        fill.setAlphaF(0.15f);
        ChartRaster::fillArea(image, device, (plot.bottom() - area.top()) * dpr, fill);
    }
    for (const Series& s : m_series) {
        device.clear();
        for (const QPointF& p : s.points)
            device.emplace_back((xOf(p.x()) - area.left()) * dpr, (yOf(p.y()) - area.top()) * dpr);
        ChartRaster::strokeLine(image, device, 2 * dpr, s.color);
    }
    image.setDevicePixelRatio(dpr);
    painter->drawImage(area.topLeft(), image);
}
