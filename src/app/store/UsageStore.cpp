#include "store/UsageStore.h"

#include "claude/ActiveCredentialStore.h"
#include "claude/SlotCustodian.h"
#include "config/ConfigStore.h"
#include "net/HttpTransport.h"
#include "store/AccountOperations.h"
#include "store/AutoSwitch.h"
#include "store/ConfigKeeper.h"
#include "store/RefreshCycle.h"

namespace {

constexpr auto kSeedHours = std::chrono::hours(48);

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
    , m_slots(std::make_shared<SlotCustodian>(m_deps.services, m_deps.configDir))
    , m_cycle(std::make_unique<RefreshCycle>(*this))
    , m_accounts(std::make_unique<AccountOperations>(*this))
    , m_autoSwitch(std::make_unique<AutoSwitch>(*this))
    , m_keeper(std::make_unique<ConfigKeeper>(*this)) {
    m_keeper->load();
    for (const ProfileConfig& p : m_config.profiles)
        if (p.accountEmail)
            m_profiles[p.id].email = p.accountEmail;
    m_jobs->run([home = m_deps.services.home] { ActiveCredentialStore::removeLeftovers(home); });
    seedFromHistory();
    startPolling();
}

UsageStore::~UsageStore() {
    // An edit whose delayed save had not come yet is not lost with the program.
    if (m_cycle->savePending())
        saveNow();
    *m_alive = false;
    // Nothing a worker job uses may go before the job: end the exchanges under way (they fail
    // at once; a token renewal runs to its answer, which holds the only copy of the new tokens)
    // and wait for the jobs. Suspended coroutines see `alive` false and end.
    m_deps.services.http.abortInFlight();
    m_jobs->close();
    // Renewed tokens the secret store refused so far: one more try, and never dropped unsaid.
    if (const std::size_t unsaved = m_slots->flushHeld())
        qWarning("ulmet: the renewed logins of %zu profile(s) could not be stored in the secret store; "
                 "capture them again after logging in with claude",
                 unsaved);
}

void UsageStore::seedFromHistory() {
    std::map<Uuid, const HistoryRecord*> latest;
    const std::vector<HistoryRecord> records = m_deps.history->load(now() - kSeedHours);
    for (const HistoryRecord& r : records) {
        latest[r.profileID] = &r;
        remember(r.profileID, r.ts, r.windows);
    }
    for (const auto& [id, record] : latest)
        setStatus(id, ProfileStatus::ok(record->windows, record->ts));
}

const ProfileState* UsageStore::state(const Uuid& id) const {
    const auto it = m_profiles.find(id);
    return it == m_profiles.end() ? nullptr : &it->second;
}

const ProfileStatus* UsageStore::status(const Uuid& id) const {
    const ProfileState* s = state(id);
    return s && s->status ? &*s->status : nullptr;
}

Readings UsageStore::readings() const {
    std::map<Uuid, ProfileStatus> statuses;
    std::map<Uuid, UsageSource> sources;
    std::map<Uuid, std::string> emails;
    std::map<Uuid, std::string> problems;
    for (const auto& [id, s] : m_profiles) {
        if (s.status)
            statuses.insert_or_assign(id, *s.status);
        if (s.problem)
            problems[id] = *s.problem;
        if (s.source)
            sources[id] = *s.source;
        if (s.email)
            emails[id] = *s.email;
    }
    const auto fullAt = [this](const Uuid& id, const UsageWindow& w, Instant takenAt) {
        return forecast(id, w, takenAt);
    };
    return Readings::build(m_config, statuses, sources, emails, fullAt, m_lastRefresh, problems);
}

std::optional<Instant> UsageStore::forecast(const Uuid& id, const UsageWindow& window,
                                            Instant takenAt) const {
    return m_autoSwitch->forecast(id, window, takenAt);
}

void UsageStore::setConfig(const AppConfig& config) {
    if (config == m_config)
        return;
    m_config = config;
    emit configChanged();
}

void UsageStore::saveNow() {
    m_keeper->save();
}

const std::optional<ConfigStore::Fault>& UsageStore::configFault() const {
    return m_keeper->fault();
}

bool UsageStore::restoreConfig() {
    return m_keeper->restore();
}

void UsageStore::backfillEmail(const Uuid& id, const std::string& email) {
    ProfileConfig* p = findProfile(id);
    if (!p || p->accountEmail)
        return; // a stored address is never overwritten
    p->accountEmail = email;
    emit configChanged();
    saveNow();
}

void UsageStore::remember(const Uuid& id, Instant at, const std::vector<UsageWindow>& windows) {
    const Instant keepFrom = now() - kRecentReadings;
    if (at < keepFrom)
        return;
    for (const UsageWindow& w : windows) {
        auto& list = m_profiles[id].recent[w.key];
        if (!list.empty() && list.back().at >= at)
            continue; // readings arrive in time order; an older one adds nothing
        list.push_back({at, w.utilization});
        while (!list.empty() && list.front().at < keepFrom)
            list.pop_front();
    }
}

// ---- The work, done by the store's three ----------------------------------------------------

void UsageStore::startPolling() {
    m_cycle->startPolling();
}
QCoro::Task<> UsageStore::refreshAll() {
    return m_cycle->refreshAll();
}
void UsageStore::scheduleSave() {
    m_cycle->scheduleSave();
}
QCoro::Task<> UsageStore::connectKeychain() {
    return m_accounts->connectKeychain();
}
void UsageStore::disconnectKeychain() {
    m_accounts->disconnectKeychain();
}
QCoro::Task<> UsageStore::enrollDetectedAccount() {
    return m_accounts->enrollDetectedAccount();
}
QCoro::Task<> UsageStore::captureActive(ProfileConfig profile) {
    return m_accounts->captureActive(std::move(profile));
}
QCoro::Task<> UsageStore::switchTo(ProfileConfig target) {
    return m_accounts->switchTo(std::move(target));
}
QCoro::Task<UsageStore::SwitchOutcome> UsageStore::switchProfile(ProfileConfig target) {
    return m_accounts->switchProfile(std::move(target));
}
void UsageStore::addProfile(Provider provider) {
    m_accounts->addProfile(provider);
}
void UsageStore::removeProfile(const Uuid& id) {
    m_accounts->removeProfile(id);
}
void UsageStore::moveProfile(const Uuid& id, int by) {
    m_accounts->moveProfile(id, by);
}
void UsageStore::moveProfile(const Uuid& id, const Uuid& before) {
    m_accounts->moveProfile(id, before);
}
bool UsageStore::isDuplicateProfile(const ProfileConfig& profile) const {
    return m_accounts->isDuplicateProfile(profile);
}

// ---- Menu bar -------------------------------------------------------------------------------

std::optional<std::pair<ProfileConfig, std::vector<UsageWindow>>> UsageStore::activeProfileWindows() const {
    for (const ProfileConfig* p : activeFirst(m_config))
        if (const ProfileState* s = state(p->id); s && s->ok())
            return std::make_pair(*p, s->ok()->windows);
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

void UsageStore::setStatus(const Uuid& id, ProfileStatus status, std::optional<UsageSource> source) {
    ProfileState& s = m_profiles[id];
    const bool sourceChanged = source && s.source != source;
    if (source)
        s.source = source; // announced with the status
    const bool problemGone = status.isOk() && s.problem;
    if (s.status == status && !sourceChanged && !problemGone)
        return;
    s.status = std::move(status);
    if (s.status->isOk())
        s.problem.reset(); // a reading, new or again the same, answers what went wrong before
    emit statusesChanged();
}

void UsageStore::setProblem(const Uuid& id, std::optional<std::string> problem) {
    ProfileState& s = m_profiles[id];
    if (s.problem == problem)
        return;
    s.problem = std::move(problem);
    emit statusesChanged();
}

void UsageStore::removeStatus(const Uuid& id) {
    if (const auto it = m_profiles.find(id);
        it != m_profiles.end() && (it->second.status || it->second.problem)) {
        it->second.status.reset();
        it->second.problem.reset();
        emit statusesChanged();
    }
}

void UsageStore::forgetProfile(const Uuid& id) {
    const auto it = m_profiles.find(id);
    if (it == m_profiles.end())
        return;
    const ProfileState gone = std::move(it->second);
    m_profiles.erase(it);
    if (gone.status)
        emit statusesChanged();
    if (gone.email)
        emit emailsChanged();
    if (gone.slotPresent)
        emit slotPresenceChanged();
}

void UsageStore::setEmail(const Uuid& id, std::optional<std::string> email) {
    const auto it = m_profiles.find(id);
    if ((it == m_profiles.end() ? std::nullopt : it->second.email) == email)
        return;
    m_profiles[id].email = std::move(email);
    emit emailsChanged();
}

void UsageStore::setSlotPresence(const Uuid& id, bool present) {
    ProfileState& s = m_profiles[id];
    if (s.slotPresent == present)
        return;
    s.slotPresent = present;
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
    // A failed enrolment's message goes with the offer it was about.
    if (m_enrolFailure && m_lastActionMessage == m_enrolFailure)
        setLastActionMessage(std::nullopt);
    m_enrolFailure.reset();
    emit pendingEnrollEmailChanged();
}

std::optional<Uuid> UsageStore::enrolmentTarget() const {
    if (!m_pendingEnrollEmail)
        return std::nullopt;
    for (const ProfileConfig& p : m_config.profiles)
        if (p.provider == Provider::claude && !p.accountEmail) {
            const ProfileState* s = state(p.id);
            if (!s || !s->slotPresent.value_or(false))
                return p.id;
        }
    return std::nullopt;
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

QDateTime UsageStore::lastRefreshTime() const {
    return toQt(m_lastRefresh);
}
QString UsageStore::lastActionMessageText() const {
    return m_lastActionMessage ? qs(*m_lastActionMessage) : QString();
}
QString UsageStore::liveEmailText() const {
    return m_liveEmail ? qs(*m_liveEmail) : QString();
}
QString UsageStore::configFaultText() const {
    return m_keeper->faultText();
}
QString UsageStore::configRestoreText() const {
    return m_keeper->restoreText();
}
QString UsageStore::pendingEnrollEmailText() const {
    return m_pendingEnrollEmail ? qs(*m_pendingEnrollEmail) : QString();
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
    saveNow();
}

void UsageStore::requestRestoreConfig() {
    restoreConfig();
}
