#include "history/HistoryModel.h"

#include "base/Language.h"
#include "history/HistoryChart.h"
#include "store/UsageStore.h"
#include "store/Worker.h"

#include <QCoro/QCoroFuture>

#include <cmath>
#include <map>

namespace {

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

qint64 ms(Instant t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

} // namespace

struct HistoryModel::Result {
    HistoryChart::Data data;
    Instant since;
    Instant now;
};

HistoryModel::HistoryModel(UsageStore* store, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_jobs(std::make_shared<JobGroup>())
    , m_range(qs(label(HistoryRange::day))) {
    connect(m_store, &UsageStore::configChanged, this, &HistoryModel::profilesChanged);
    connect(m_store, &UsageStore::statusesChanged, this, &HistoryModel::profilesChanged);
}

HistoryModel::~HistoryModel() {
    *m_alive = false;
    m_jobs->close();
}

void HistoryModel::setRange(const QString& range) {
    if (range == m_range || !historyRangeFromString(range.toStdString()))
        return;
    m_range = range;
    emit rangeChanged();
    reload();
}

void HistoryModel::setWindowKey(const QString& key) {
    if (key == m_windowKey)
        return;
    m_windowKey = key;
    emit windowKeyChanged();
    emit profilesChanged(); // the current values are of this key
    reload();
}

QStringList HistoryModel::keyLabels() const {
    std::vector<std::string> keys;
    for (const QString& key : m_keys)
        keys.push_back(key.toStdString());
    QStringList labels;
    for (const std::string& label : UsageWindow::distinctCompactLabels(keys))
        labels.push_back(qs(label));
    return labels;
}

QStringList HistoryModel::ranges() const {
    QStringList all;
    for (HistoryRange r : allHistoryRanges())
        all.push_back(qs(label(r)));
    return all;
}

QStringList HistoryModel::rangeLabels() const {
    QStringList all;
    for (HistoryRange r : allHistoryRanges())
        all.push_back(QString::fromUtf8(TR(label(r).data())));
    return all;
}

int HistoryModel::pointCount() const {
    int n = 0;
    for (const auto& [name, points] : m_seriesPoints)
        n += static_cast<int>(points.size());
    return n;
}

QVariantList HistoryModel::profiles() const {
    QVariantList list;
    const std::string key = m_windowKey.toStdString();
    for (const ProfileConfig& p : m_store->config().profiles) {
        QString current = QStringLiteral("–");
        if (const ProfileState* state = m_store->state(p.id))
            if (const auto* ok = state->ok())
                for (const UsageWindow& w : ok->windows)
                    if (w.key == key) {
                        if (std::isfinite(w.utilization))
                            current = qs(UsageWindow::percentText(w.utilization));
                        break;
                    }
        QVariantMap row;
        row.insert(QStringLiteral("name"), qs(p.name));
        row.insert(QStringLiteral("color"),
                   QString::fromStdString(ColorPalette::hexText(ColorPalette::color(p.colorName))));
        row.insert(QStringLiteral("current"), current);
        list.push_back(row);
    }
    return list;
}

void HistoryModel::reload() {
    const std::uint64_t generation = ++m_generation;
    const auto range = historyRangeFromString(m_range.toStdString()).value_or(HistoryRange::day);
    const Instant now = m_store->currentTime();
    const Instant since = now - std::chrono::duration_cast<Instant::duration>(
                                    std::chrono::duration<double>(spanSeconds(range)));
    std::vector<HistoryChart::ProfileName> names;
    for (const ProfileConfig& p : m_store->config().profiles)
        names.push_back({p.id, p.name});
    HistoryStore* history = m_store->historyStore();
    const std::string key = m_windowKey.toStdString();
    auto future = m_jobs->run([history, names, key, since, now] {
        Result r{HistoryChart::compute(history->load(since), names, key), since, now};
        return r;
    });
    // The computation's result comes back on the main thread; a later request voids it.
    auto watcher = [](HistoryModel* self, std::shared_ptr<bool> alive, std::uint64_t generation,
                      QFuture<Result> pending) -> QCoro::Task<> {
        const Result result = co_await pending;
        if (*alive)
            self->apply(generation, result);
    };
    watcher(this, m_alive, generation, future);
}

void HistoryModel::apply(std::uint64_t generation, const Result& result) {
    if (generation != m_generation)
        return; // a newer span or key was asked for meanwhile
    m_axisMin = QDateTime::fromMSecsSinceEpoch(ms(result.since));
    m_axisMax = QDateTime::fromMSecsSinceEpoch(ms(result.now));
    std::map<std::string, std::vector<std::pair<qint64, double>>> byName;
    for (const ChartPoint& p : result.data.points)
        byName[p.profile].emplace_back(ms(p.ts), p.value);
    m_seriesPoints.clear();
    for (const ProfileConfig& p : m_store->config().profiles)
        if (const auto it = byName.find(p.name); it != byName.end()) {
            m_seriesPoints.emplace_back(qs(p.name), std::move(it->second));
            byName.erase(it);
        }
    m_loaded = true;
    emit resultChanged();
    if (!result.data.keys.empty()) {
        QStringList keys;
        for (const std::string& k : result.data.keys)
            keys.push_back(qs(k));
        if (keys != m_keys) {
            m_keys = keys;
            emit availableKeysChanged();
        }
        if (!m_keys.contains(m_windowKey))
            setWindowKey(m_keys.front()); // computes again for that key
    }
}

QColor HistoryModel::colorOf(const QString& profileName) const {
    for (const ProfileConfig& p : m_store->config().profiles)
        if (qs(p.name) == profileName) {
            const Rgb c = ColorPalette::color(p.colorName);
            return QColor(c.r, c.g, c.b);
        }
    return QColor(Qt::gray);
}
