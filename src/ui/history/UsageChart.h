#pragma once

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QPointer>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

#include <vector>

class HistoryModel;

// The history chart: per profile a translucent area (15 %) under a line of width 2, y from 0 to
// 100 % with marks every 25, x over the model's span with marks on whole hours or days of local
// time. Drawn with QPainter from the model's last result: the areas as one trapezoid per segment
// and the lines as separate segments, so a dense, jagged month of readings costs a few
// milliseconds instead of rasterising one huge self-intersecting outline.
class UsageChart : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    // The HistoryModel to draw (a QObject so QML need not know the type).
    Q_PROPERTY(QObject* history READ history WRITE setHistory NOTIFY historyChanged)
    Q_PROPERTY(QFont font READ font WRITE setFont NOTIFY styleChanged)
    Q_PROPERTY(QColor textColor READ textColor WRITE setTextColor NOTIFY styleChanged)
    Q_PROPERTY(QColor gridColor READ gridColor WRITE setGridColor NOTIFY styleChanged)

public:
    explicit UsageChart(QQuickItem* parent = nullptr);

    QObject* history() const;
    void setHistory(QObject* history);
    QFont font() const { return m_font; }
    void setFont(const QFont& font);
    QColor textColor() const { return m_textColor; }
    void setTextColor(const QColor& color);
    QColor gridColor() const { return m_gridColor; }
    void setGridColor(const QColor& color);

    void paint(QPainter* painter) override;

    struct Mark {
        qint64 at; // ms since epoch
        QString text;
    };
    // Marks between `from` and `to` (ms since epoch) on whole local hours (every hour up to five
    // hours, every third hour up to a day) or local midnights (every day up to a week, else every
    // fifth day counted back from the last one).
    static std::vector<Mark> timeMarks(qint64 from, qint64 to);

signals:
    void historyChanged();
    void styleChanged();

private:
    struct Series {
        QString name;
        QColor color;
        std::vector<QPointF> points; // ms since epoch, percent
    };
    void takeResult();
    void recolor(); // the profiles' colours may have been edited

    QPointer<HistoryModel> m_history;
    QFont m_font;
    QColor m_textColor{0x59, 0x59, 0x59};
    QColor m_gridColor{0, 0, 0, 20};
    std::vector<Series> m_series;
    qint64 m_from = 0, m_to = 1;
    std::vector<Mark> m_marks;
};
