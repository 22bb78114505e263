#include "store/AutoSwitch.h"

#include "claude/SlotCustodian.h"
#include "store/AccountOperations.h"
#include "store/UsageStore.h"

#include <QCoreApplication>
#include <QCoro/QCoroFuture>

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

const UsageWindow* sessionWindow(const UsageStore& store, const Uuid& id) {
    if (const ProfileStatus* status = store.status(id); status && status->isOk())
        for (const UsageWindow& w : status->okValue()->windows)
            if (w.key == "five_hour")
                return &w;
    return nullptr;
}

std::optional<double> sessionUtil(const UsageStore& store, const Uuid& id) {
    const UsageWindow* w = sessionWindow(store, id);
    return w ? std::optional(w->utilization) : std::nullopt;
}

QString clockText(Instant t, Instant now) {
    return QString::fromStdString(DateTime::clockText(t, now));
}

} // namespace

AutoSwitch::AutoSwitch(UsageStore& store)
    : m_store(store) {}

bool AutoSwitch::due() const {
    const AppConfig& c = m_store.m_config;
    const bool coolingDown =
        m_lastSwitchAt && m_store.now() - *m_lastSwitchAt < UsageStore::kAutoSwitchCooldown;
    return c.autoSwitchEnabled && c.activeProfileID && !coolingDown;
}

std::vector<ProfileConfig> AutoSwitch::candidates(const Uuid& activeID) const {
    std::vector<ProfileConfig> result;
    for (const ProfileConfig& p : m_store.m_config.profiles)
        if (p.id != activeID && p.provider == Provider::claude && p.accountIdentity &&
            sessionUtil(m_store, p.id).value_or(0) < m_store.m_config.autoSwitchThreshold)
            result.push_back(p);
    return result;
}

void AutoSwitch::personChose(const Uuid& id) {
    const UsageWindow* w = sessionWindow(m_store, id);
    m_choice = Choice{id, w ? w->resetsAt : std::nullopt};
}

bool AutoSwitch::choiceStands(const Uuid& activeID) {
    if (!m_choice)
        return false;
    if (m_choice->profile != activeID) { // another login since (claude's own, or a switch)
        m_choice.reset();
        return false;
    }
    if (!m_choice->until) { // not read when chosen: the window read first counts
        const UsageWindow* w = sessionWindow(m_store, activeID);
        m_choice->until = w ? w->resetsAt : std::nullopt;
        return true;
    }
    if (m_store.now() < *m_choice->until)
        return true;
    m_choice.reset(); // its window has reset since: the rules apply again
    return false;
}

QCoro::Task<> AutoSwitch::evaluate() {
    UsageStore& s = m_store;
    if (!due())
        co_return;
    const auto alive = s.m_alive;
    // The decision and the switch take one turn: no other operation changes the login between
    // them. Everything is read again once the turn is ours.
    const OperationLane::Turn turn = co_await s.m_lane.take();
    if (!*alive || !due())
        co_return;
    const Uuid activeID = *s.m_config.activeProfileID;
    if (choiceStands(activeID))
        co_return;
    const auto activeUtil = sessionUtil(s, activeID);
    if (!activeUtil || *activeUtil < s.m_config.autoSwitchThreshold)
        co_return;

    // Candidates in priority order; the slot reads run off the main thread.
    const std::vector<ProfileConfig> candidates = this->candidates(activeID);
    if (candidates.empty())
        co_return;
    auto firstWithSlot = s.m_jobs->run([custodian = s.m_slots, candidates]() -> std::optional<ProfileConfig> {
        for (const ProfileConfig& p : candidates)
            if (custodian->has(p.id))
                return p;
        return std::nullopt;
    });
    const std::optional<ProfileConfig> chosen = co_await firstWithSlot;
    if (!*alive || !chosen)
        co_return;

    m_lastSwitchAt = s.now();
    const ProfileConfig* full = s.findProfile(activeID);
    const QString fullName = full ? qs(full->name) : QString();
    const bool switched = co_await s.m_accounts->switchSteps(*chosen);
    if (!*alive || !switched)
        co_return; // the switch's own message says why
    const QString body =
        QCoreApplication::translate(
            "UsageStore",
            "「%1」のセッションが%2%に達したため「%3」に切替えました。claude を起動し直してください")
            .arg(fullName)
            .arg(static_cast<long long>(*activeUtil))
            .arg(qs(chosen->name));
    s.setLastActionMessage(body.toStdString());
    if (s.m_deps.notify)
        s.m_deps.notify(QCoreApplication::translate("UsageStore", "アカウント自動切替"), body);
}

std::optional<Instant> AutoSwitch::forecast(const Uuid& id, const UsageWindow& window,
                                            Instant takenAt) const {
    // Told as of now: a window that has reset since, or a moment already past (the reading is
    // old), forecasts nothing.
    const Instant t = m_store.now();
    if (!window.resetsAt || *window.resetsAt <= t)
        return std::nullopt;
    std::vector<UsageForecast::Reading> readings;
    if (const ProfileState* state = m_store.state(id))
        if (const auto k = state->recent.find(window.key); k != state->recent.end())
            for (const auto& r : k->second)
                if (r.at < takenAt) // the window itself is the reading taken then
                    readings.push_back(r);
    const auto full = UsageForecast::fullAt(window, takenAt, readings);
    return full && *full > t ? full : std::nullopt;
}

void AutoSwitch::notifyForecast() {
    UsageStore& s = m_store;
    if (!s.m_config.forecastNotify || !s.m_config.activeProfileID || !s.m_deps.notify)
        return;
    const ProfileConfig* p = s.findProfile(*s.m_config.activeProfileID);
    const ProfileState* state = p ? s.state(p->id) : nullptr;
    if (!state || !state->ok())
        return;
    const Instant t = s.now();
    for (const UsageWindow& w : state->ok()->windows) {
        if (w.key != "five_hour" || !w.resetsAt)
            continue;
        const auto full = forecast(p->id, w, state->ok()->at);
        if (!full || *full - t > UsageStore::kForecastWarning)
            continue;
        if (!m_forecastNotified.insert({p->id, *w.resetsAt}).second)
            continue; // once per window
        s.m_deps.notify(
            QCoreApplication::translate("UsageStore", "使用量の予測"),
            QCoreApplication::translate(
                "UsageStore", "「%1」のセッションはこのペースだと %2 ごろ上限に達します（リセット %3）")
                .arg(QString::fromStdString(p->name), clockText(*full, t), clockText(*w.resetsAt, t)));
    }
}
