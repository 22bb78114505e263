// The history chart's own drawing: ink per column of the lines and areas, and the time marks in
// awkward zones.

#include "history/UsageChart.h"
#include "history/ChartRaster.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <ctime>
#include <vector>

namespace {

QImage blank(int w = 100, int h = 100) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// How many pixels of ink a column (or row) holds, partial pixels counted by their alpha.
double columnInk(const QImage& image, int x) {
    double sum = 0;
    for (int y = 0; y < image.height(); ++y)
        sum += qAlpha(image.pixel(x, y)) / 255.0;
    return sum;
}
double rowInk(const QImage& image, int y) {
    double sum = 0;
    for (int x = 0; x < image.width(); ++x)
        sum += qAlpha(image.pixel(x, y)) / 255.0;
    return sum;
}

TEST(ChartRasterTest, LinesKeepTheirWidthAtEverySlope) {
    const std::vector<QPointF> flat{{10, 50.5}, {90, 50.5}};
    QImage image = blank();
    ChartRaster::strokeLine(image, flat, 2, Qt::black);
    EXPECT_NEAR(columnInk(image, 50), 2.0, 0.05);
    EXPECT_EQ(qAlpha(image.pixel(50, 50)), 255);
    EXPECT_EQ(columnInk(image, 5), 0) << "nothing beyond the round end";

    const std::vector<QPointF> upright{{50.5, 10}, {50.5, 90}};
    image = blank();
    ChartRaster::strokeLine(image, upright, 2, Qt::black);
    EXPECT_NEAR(rowInk(image, 50), 2.0, 0.3) << "a vertical segment is as wide as a flat one";

    const std::vector<QPointF> diagonal{{10, 10}, {90, 90}};
    image = blank();
    ChartRaster::strokeLine(image, diagonal, 2, Qt::black);
    EXPECT_NEAR(columnInk(image, 50), 2 * std::sqrt(2.0), 0.3) << "a quarter pixel of grid error at most";
}

TEST(ChartRasterTest, AreasFillDownToTheBaseWithPartialTopPixels) {
    const std::vector<QPointF> line{{20, 30.25}, {80, 30.25}};
    QImage image = blank();
    ChartRaster::fillArea(image, line, 80, Qt::black);
    EXPECT_NEAR(columnInk(image, 50), 49.75, 0.01);
    EXPECT_EQ(qAlpha(image.pixel(50, 30)), 191);
    EXPECT_EQ(columnInk(image, 10), 0) << "nothing left of the first reading";
    EXPECT_EQ(columnInk(image, 90), 0) << "nothing right of the last reading";

    // A translucent area over another: blended, not replaced.
    QColor half(Qt::black);
    half.setAlphaF(0.5f);
    image = blank();
    ChartRaster::fillArea(image, line, 80, half);
    ChartRaster::fillArea(image, line, 80, half);
    EXPECT_NEAR(qAlpha(image.pixel(50, 60)), 191, 1);
}

TEST(ChartRasterTest, PointsFarOutsideTheImageAreClipped) {
    const std::vector<QPointF> wild{{-1e6, -1e9}, {-5, 1e9}, {50, 50}, {60, -3}, {1e6, 1e7}};
    QImage image = blank(40, 30);
    ChartRaster::strokeLine(image, wild, 4, Qt::red);
    ChartRaster::fillArea(image, wild, 29, Qt::blue);
    const std::vector<QPointF> single{{20, 15}};
    ChartRaster::strokeLine(image, single, 4, Qt::red);
    EXPECT_GT(qAlpha(image.pixel(20, 15)), 0) << "a single reading is a dot";
    ChartRaster::strokeLine(image, {}, 4, Qt::red);
}

// Runs `body` with the process in time zone `zone`.
template <typename F>
void inZone(const char* zone, F body) {
    const QByteArray saved = qgetenv("TZ");
    qputenv("TZ", zone);
    tzset();
    body();
    qputenv("TZ", saved);
    tzset();
}

qint64 at(const char* iso) {
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toMSecsSinceEpoch();
}

QStringList texts(const std::vector<UsageChart::Mark>& marks) {
    QStringList list;
    for (const auto& m : marks)
        list.push_back(m.text);
    return list;
}

TEST(UsageChartTest, TimeMarksFallOnWholeLocalHoursAndDays) {
    inZone("Asia/Kolkata", [] { // UTC+5:30: whole local hours are half past in UTC
        EXPECT_EQ(texts(UsageChart::timeMarks(at("2026-12-06T10:10:00Z"), at("2026-12-06T15:10:00Z"))),
                  (QStringList{QStringLiteral("16:00"), QStringLiteral("17:00"), QStringLiteral("18:00"),
                               QStringLiteral("19:00"), QStringLiteral("20:00")}));
        const auto day = UsageChart::timeMarks(at("2026-12-05T12:00:00Z"), at("2026-12-06T12:00:00Z"));
        EXPECT_EQ(day.size(), 8u);
        EXPECT_EQ(day.front().text, QStringLiteral("18:00"));
    });
    inZone("Europe/Berlin", [] { // the clocks go from 2:00 to 3:00
        EXPECT_EQ(texts(UsageChart::timeMarks(at("2027-03-27T23:30:00Z"), at("2027-03-28T04:30:00Z"))),
                  (QStringList{QStringLiteral("1:00"), QStringLiteral("3:00"), QStringLiteral("4:00"),
                               QStringLiteral("5:00"), QStringLiteral("6:00")}));
        const auto month = UsageChart::timeMarks(at("2027-03-01T10:00:00Z"), at("2027-03-31T10:00:00Z"));
        EXPECT_EQ(texts(month),
                  (QStringList{QStringLiteral("3/6"), QStringLiteral("3/11"), QStringLiteral("3/16"),
                               QStringLiteral("3/21"), QStringLiteral("3/26"), QStringLiteral("3/31")}));
        EXPECT_EQ(month.back().at, at("2027-03-30T22:00:00Z")) << "local midnight after the change";
    });
}

} // namespace
