#include "store/UsageStore.h"

#include "claude/SlotCustodian.h"
#include "config/ConfigStore.h"
#include "net/HttpTransport.h"

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

QDateTime toQt(std::optional<Instant> t) {
    if (!t)
        return {};
    return QDateTime::fromMSecsSinceEpoch(
               std::chrono::duration_cast<std::chrono::milliseconds>(t->time_since_epoch()).count())
        .toUTC();
}

} // namespace

UsageStore::UsageStore(StoreDependencies dependencies, QObject* parent)
    : QObject(parent)
    , m_deps(std::move(dependencies))
    , m_slots(std::make_shared<SlotCustodian>(m_deps.services)) {
    ConfigStore::Loaded loaded = ConfigStore::load(m_deps.configDir, m_deps.services.home);
    m_config = std::move(loaded.config);
    m_configFileLeftAlone = loaded.fileLeftAlone;
    if (m_configFileLeftAlone)
        m_lastActionMessage =
            tr("config.json "
               "を読み込めないため、既定の設定で動作中です。設定を変更するまでファイルには書き込みません")
                .toStdString();
    for (const ProfileConfig& p : m_config.profiles)
        if (p.accountEmail)
            m_emails[p.id] = *p.accountEmail;
    if (m_deps.oneOperation)
        return;
    seedFromHistory();
    startPolling();
}

Readings UsageStore::readings() const {
    const auto fullAt = [this](const Uuid& id, const UsageWindow& w, Instant takenAt) {
        return forecast(id, w, takenAt);
    };
    return Readings::build(m_config, m_statuses, m_sources, m_emails, fullAt, m_lastRefresh);
}

UsageStore::~UsageStore() {
    *m_alive = false;
    // Nothing a worker job uses may go before the job: end the exchanges under way (they fail
    // at once) and wait for the jobs. Suspended coroutines see `alive` false and end.
    m_deps.services.http.abortInFlight();
    m_jobs->close();
}

void UsageStore::setConfig(const AppConfig& config) {
    if (config == m_config)
        return;
    m_config = config;
    userEdited();
    emit configChanged();
}

// ---- Menu bar -------------------------------------------------------------------------------

std::optional<std::pair<ProfileConfig, std::vector<UsageWindow>>> UsageStore::activeProfileWindows() const {
    for (const ProfileConfig* p : activeFirst(m_config)) {
        const auto it = m_statuses.find(p->id);
        if (it != m_statuses.end() && it->second.isOk())
            return std::make_pair(*p, it->second.okValue()->windows);
    }
    return std::nullopt;
}

std::vector<UsageStore::MenuMetric> UsageStore::menuMetrics() const {
    std::vector<MenuMetric> metrics;
    const auto pair = activeProfileWindows();
    if (!pair)
        return metrics;
    const Instant t = now();
    const Rgb tint = ColorPalette::color(pair->first.colorName);
    auto first = [&](const char* key) -> const UsageWindow* {
        for (const UsageWindow& w : pair->second)
            if (w.key == key)
                return &w;
        return nullptr;
    };
    if (const UsageWindow* w = first("five_hour"); w && m_config.menuSessionEnabled) {
        std::optional<std::string> remaining;
        if (m_config.menuSessionShowRemaining && w->resetsAt)
            remaining = remainingBadge(*w->resetsAt, t);
        metrics.push_back(
            {"session", m_config.menuSessionStyle, w->utilization, w->elapsedFraction(t), tint, remaining});
    }
    if (const UsageWindow* w = first("seven_day"); w && m_config.menuWeekEnabled)
        metrics.push_back(
            {"week", m_config.menuWeekStyle, w->utilization, w->elapsedFraction(t), tint, std::nullopt});
    return metrics;
}

std::string UsageStore::remainingBadge(Instant until, Instant now) {
    const auto left = until > now ? until - now : Instant::duration::zero();
    const long long minutes = std::chrono::duration_cast<std::chrono::minutes>(left).count();
    if (minutes > 59)
        return "→" + std::to_string(minutes / 60) + "H";
    return "→" + std::to_string(minutes) + "M";
}

// ---- Setters that announce changes ---------------------------------------------------------

ProfileConfig* UsageStore::findProfile(const Uuid& id) {
    for (ProfileConfig& p : m_config.profiles)
        if (p.id == id)
            return &p;
    return nullptr;
}

void UsageStore::setStatus(const Uuid& id, ProfileStatus status) {
    const auto it = m_statuses.find(id);
    if (it != m_statuses.end() && it->second == status)
        return;
    m_statuses.insert_or_assign(id, std::move(status));
    emit statusesChanged();
}

void UsageStore::removeStatus(const Uuid& id) {
    if (m_statuses.erase(id))
        emit statusesChanged();
}

void UsageStore::setEmail(const Uuid& id, std::optional<std::string> email) {
    const auto it = m_emails.find(id);
    if (!email) {
        if (it != m_emails.end()) {
            m_emails.erase(it);
            emit emailsChanged();
        }
        return;
    }
    if (it != m_emails.end() && it->second == *email)
        return;
    m_emails[id] = *email;
    emit emailsChanged();
}

void UsageStore::setSlotPresence(const Uuid& id, bool present) {
    const auto it = m_slotPresence.find(id);
    if (it != m_slotPresence.end() && it->second == present)
        return;
    m_slotPresence[id] = present;
    emit slotPresenceChanged();
}

void UsageStore::setLastActionMessage(std::optional<std::string> message) {
    if (m_lastActionMessage == message)
        return;
    m_lastActionMessage = std::move(message);
    emit lastActionMessageChanged();
}

void UsageStore::setLiveEmail(std::optional<std::string> email) {
    if (m_liveEmail == email)
        return;
    m_liveEmail = std::move(email);
    emit liveEmailChanged();
}

void UsageStore::setPendingEnroll(std::optional<std::string> email, std::optional<std::string> raw) {
    m_pendingEnrollRaw = std::move(raw);
    if (m_pendingEnrollEmail == email)
        return;
    m_pendingEnrollEmail = std::move(email);
    emit pendingEnrollEmailChanged();
}

void UsageStore::setBackoffUntil(std::optional<Instant> until) {
    if (m_backoffUntil == until)
        return;
    m_backoffUntil = until;
    emit backoffUntilChanged();
}

void UsageStore::setLastRefresh(std::optional<Instant> when) {
    if (m_lastRefresh == when)
        return;
    m_lastRefresh = when;
    emit lastRefreshChanged();
}

// ---- The views' forms -----------------------------------------------------------------------

QVariantMap UsageStore::statusesMap() const {
    QVariantMap map;
    for (const auto& [id, status] : m_statuses) {
        QVariantMap entry;
        if (const auto* ok = status.okValue()) {
            QVariantList windows;
            for (const UsageWindow& w : ok->windows) {
                QVariantMap window;
                window.insert(QStringLiteral("key"), qs(w.key));
                window.insert(QStringLiteral("utilization"), w.utilization);
                if (w.resetsAt)
                    window.insert(QStringLiteral("resetsAt"), toQt(w.resetsAt));
                if (w.windowSeconds)
                    window.insert(QStringLiteral("windowSeconds"), *w.windowSeconds);
                windows.push_back(window);
            }
            entry.insert(QStringLiteral("ok"), true);
            entry.insert(QStringLiteral("windows"), windows);
            entry.insert(QStringLiteral("at"), toQt(ok->at));
        } else {
            entry.insert(QStringLiteral("ok"), false);
            entry.insert(QStringLiteral("message"), qs(status.errorValue()->message));
        }
        map.insert(qs(id.toString()), entry);
    }
    return map;
}

QVariantMap UsageStore::emailsMap() const {
    QVariantMap map;
    for (const auto& [id, email] : m_emails)
        map.insert(qs(id.toString()), qs(email));
    return map;
}

QVariantMap UsageStore::slotPresenceMap() const {
    QVariantMap map;
    for (const auto& [id, present] : m_slotPresence)
        map.insert(qs(id.toString()), present);
    return map;
}

QDateTime UsageStore::lastRefreshTime() const {
    return toQt(m_lastRefresh);
}
QString UsageStore::lastActionMessageText() const {
    return m_lastActionMessage ? qs(*m_lastActionMessage) : QString();
}
QString UsageStore::liveEmailText() const {
    return m_liveEmail ? qs(*m_liveEmail) : QString();
}
QString UsageStore::pendingEnrollEmailText() const {
    return m_pendingEnrollEmail ? qs(*m_pendingEnrollEmail) : QString();
}
QDateTime UsageStore::backoffUntilTime() const {
    return toQt(m_backoffUntil);
}

// ---- Actions of the views -------------------------------------------------------------------

void UsageStore::requestRefresh() {
    refreshAll();
}

void UsageStore::requestConnectKeychain() {
    connectKeychain();
}

void UsageStore::requestEnroll() {
    enrollDetectedAccount();
}

void UsageStore::requestSwitch(const QString& profileId) {
    const auto id = Uuid::parse(profileId.toStdString());
    if (const ProfileConfig* p = id ? findProfile(*id) : nullptr)
        switchTo(*p);
}

void UsageStore::requestCapture(const QString& profileId) {
    const auto id = Uuid::parse(profileId.toStdString());
    if (const ProfileConfig* p = id ? findProfile(*id) : nullptr)
        captureActive(*p);
}

void UsageStore::moveProfileBy(const QString& profileId, int by) {
    if (const auto id = Uuid::parse(profileId.toStdString()))
        moveProfile(*id, by);
}

void UsageStore::moveProfileBefore(const QString& profileId, const QString& beforeId) {
    const auto id = Uuid::parse(profileId.toStdString());
    const auto before = Uuid::parse(beforeId.toStdString());
    if (id && before)
        moveProfile(*id, *before);
}

void UsageStore::saveNowForDrop() {
    userEdited();
    saveNow();
}
