// Automatic switching, and the forecast of a filling window with its notice.
#include "store/UsageStore.h"

#include "claude/SlotCustodian.h"

#include <QCoro/QCoroFuture>

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

std::optional<double> sessionUtil(const std::map<Uuid, ProfileStatus>& statuses, const Uuid& id) {
    const auto it = statuses.find(id);
    if (it == statuses.end() || !it->second.isOk())
        return std::nullopt;
    for (const UsageWindow& w : it->second.okValue()->windows)
        if (w.key == "five_hour")
            return w.utilization;
    return std::nullopt;
}

} // namespace

QCoro::Task<> UsageStore::evaluateAutoSwitch() {
    if (!m_config.autoSwitchEnabled)
        co_return;
    if (m_lastAutoSwitchAt && now() - *m_lastAutoSwitchAt < kAutoSwitchCooldown)
        co_return;
    if (!m_config.activeProfileID)
        co_return;
    const auto alive = m_alive;
    // The decision and the switch take one turn: no other operation changes the login between
    // them. Everything is read again once the turn is ours.
    const OperationLane::Turn turn = co_await m_lane.take();
    if (!*alive || !m_config.autoSwitchEnabled || !m_config.activeProfileID)
        co_return;
    if (m_lastAutoSwitchAt && now() - *m_lastAutoSwitchAt < kAutoSwitchCooldown)
        co_return;
    const Uuid activeID = *m_config.activeProfileID;
    const auto activeUtil = sessionUtil(m_statuses, activeID);
    if (!activeUtil || *activeUtil < m_config.autoSwitchThreshold)
        co_return;

    // Candidates in priority order; the slot reads run off the main thread.
    std::vector<ProfileConfig> candidates;
    for (const ProfileConfig& p : m_config.profiles)
        if (p.id != activeID && p.provider == Provider::claude && p.accountIdentity &&
            sessionUtil(m_statuses, p.id).value_or(0) < m_config.autoSwitchThreshold)
            candidates.push_back(p);
    if (candidates.empty())
        co_return;
    auto firstWithSlot = m_jobs->run([custodian = m_slots, candidates]() -> std::optional<ProfileConfig> {
        for (const ProfileConfig& p : candidates)
            if (custodian->has(p.id))
                return p;
        return std::nullopt;
    });
    const std::optional<ProfileConfig> chosen = co_await firstWithSlot;
    if (!*alive || !chosen)
        co_return;

    m_lastAutoSwitchAt = now();
    co_await switchSteps(*chosen);
    if (!*alive)
        co_return;
    const QString body = tr("セッション%1% → 「%2」に切替えました。claude を起動し直してください")
                             .arg(static_cast<long long>(*activeUtil))
                             .arg(qs(chosen->name));
    if (m_deps.notify)
        m_deps.notify(tr("アカウント自動切替"), body);
}

void UsageStore::remember(const Uuid& id, Instant at, const std::vector<UsageWindow>& windows) {
    const Instant keepFrom = now() - kRecentReadings;
    if (at < keepFrom)
        return;
    for (const UsageWindow& w : windows) {
        auto& list = m_recent[id][w.key];
        if (!list.empty() && list.back().at >= at)
            continue; // readings arrive in time order; an older one adds nothing
        list.push_back({at, w.utilization});
        while (!list.empty() && list.front().at < keepFrom)
            list.pop_front();
    }
}

std::optional<Instant> UsageStore::forecast(const Uuid& id, const UsageWindow& window,
                                            Instant takenAt) const {
    // Told as of now: a window that has reset since, or a moment already past (the reading is
    // old), forecasts nothing.
    const Instant t = now();
    if (!window.resetsAt || *window.resetsAt <= t)
        return std::nullopt;
    std::vector<UsageForecast::Reading> readings;
    if (const auto p = m_recent.find(id); p != m_recent.end())
        if (const auto k = p->second.find(window.key); k != p->second.end())
            for (const auto& r : k->second)
                if (r.at < takenAt) // the window itself is the reading taken then
                    readings.push_back(r);
    const auto full = UsageForecast::fullAt(window, takenAt, readings);
    return full && *full > t ? full : std::nullopt;
}

QString UsageStore::clockText(Instant t, Instant now) {
    return QString::fromStdString(DateTime::clockText(t, now));
}

void UsageStore::notifyForecast() {
    if (!m_config.forecastNotify || !m_config.activeProfileID || !m_deps.notify)
        return;
    const ProfileConfig* p = findProfile(*m_config.activeProfileID);
    const auto it = m_statuses.find(*m_config.activeProfileID);
    if (!p || it == m_statuses.end() || !it->second.isOk())
        return;
    for (const UsageWindow& w : it->second.okValue()->windows) {
        if (w.key != "five_hour" || !w.resetsAt)
            continue;
        const auto full = forecast(p->id, w, it->second.okValue()->at);
        if (!full || *full - now() > kForecastWarning)
            continue;
        const auto key = std::make_pair(p->id, *w.resetsAt);
        if (m_forecastNotified.contains(key))
            continue; // once per window
        m_forecastNotified.insert(key);
        m_deps.notify(tr("使用量の予測"),
                      tr("「%1」のセッションはこのペースだと %2 ごろ上限に達します（リセット %3）")
                          .arg(QString::fromStdString(p->name), clockText(*full, now()),
                               clockText(*w.resetsAt, now())));
    }
}
