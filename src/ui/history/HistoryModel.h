#pragma once

#include <QColor>
#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QVariantList>

#include <memory>

class JobGroup;
class UsageStore;

// The history window's state: span, window key, the keys the history offers, and the points of
// the last finished computation, which the chart item reads. A change of span or key starts a computation on
// a worker thread; a newer one makes the result of an older one void. Main thread.
class HistoryModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString range READ range WRITE setRange NOTIFY rangeChanged)
    Q_PROPERTY(QString windowKey READ windowKey WRITE setWindowKey NOTIFY windowKeyChanged)
    Q_PROPERTY(QStringList availableKeys READ availableKeys NOTIFY availableKeysChanged)
    Q_PROPERTY(QStringList keyLabels READ keyLabels NOTIFY availableKeysChanged)
    // The spans by name ("24時間", the value of `range`), and as the user reads them.
    Q_PROPERTY(QStringList ranges READ ranges CONSTANT)
    Q_PROPERTY(QStringList rangeLabels READ rangeLabels CONSTANT)
    Q_PROPERTY(bool loaded READ loaded NOTIFY resultChanged)
    Q_PROPERTY(bool empty READ empty NOTIFY resultChanged)
    Q_PROPERTY(int pointCount READ pointCount NOTIFY resultChanged)
    Q_PROPERTY(QDateTime axisMin READ axisMin NOTIFY resultChanged)
    Q_PROPERTY(QDateTime axisMax READ axisMax NOTIFY resultChanged)
    // name, color ("#rrggbb") and current ("58%" or "–") of every configured profile, in order.
    Q_PROPERTY(QVariantList profiles READ profiles NOTIFY profilesChanged)

public:
    explicit HistoryModel(UsageStore* store, QObject* parent = nullptr);
    ~HistoryModel() override;

    QString range() const { return m_range; }
    void setRange(const QString& range);
    QString windowKey() const { return m_windowKey; }
    void setWindowKey(const QString& key);
    QStringList availableKeys() const { return m_keys; }
    QStringList keyLabels() const;
    QStringList ranges() const;
    QStringList rangeLabels() const;
    bool loaded() const { return m_loaded; }
    bool empty() const { return m_seriesPoints.empty(); }
    int pointCount() const;
    QDateTime axisMin() const { return m_axisMin; }
    QDateTime axisMax() const { return m_axisMax; }
    QVariantList profiles() const;

    // Starts a computation for the current span and key (the window calls it when shown).
    Q_INVOKABLE void reload();
    using Points = std::vector<std::pair<qint64, double>>; // ms since epoch, percent
    // The points of the last result per profile name, in configuration order.
    const std::vector<std::pair<QString, Points>>& series() const { return m_seriesPoints; }
    // The colour of the first profile of that name in the configuration.
    QColor colorOf(const QString& profileName) const;

signals:
    void rangeChanged();
    void windowKeyChanged();
    void availableKeysChanged();
    void resultChanged();
    void profilesChanged();

private:
    struct Result;
    void apply(std::uint64_t generation, const Result& result);

    UsageStore* m_store;
    std::shared_ptr<JobGroup> m_jobs;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    QString m_range;
    QString m_windowKey = QStringLiteral("five_hour");
    QStringList m_keys{QStringLiteral("five_hour")};
    bool m_loaded = false;
    QDateTime m_axisMin, m_axisMax;
    std::vector<std::pair<QString, Points>> m_seriesPoints;
    std::uint64_t m_generation = 0;
};
