#include "store/RefreshCycle.h"

#include "claude/AccountSteps.h"
#include "claude/ActiveCredentialStore.h"
#include "claude/ClaudeAppState.h"
#include "claude/SlotCustodian.h"
#include "store/AccountOperations.h"
#include "store/AutoSwitch.h"
#include "store/ConfigKeeper.h"
#include "store/UsageStore.h"
#include "usage/AnthropicAPI.h"

#include <QCoreApplication>
#include <QCoro/QCoroFuture>
#include <QFileInfo>

#include <algorithm>
#include <set>
#include <utility>

namespace {

constexpr double kMaxSleepSeconds = 365.0 * 24 * 3600; // a poll interval beyond a year waits a year

// Secret-store and file reads of a cycle's start.
struct Reads {
    std::optional<std::string> liveBlob;
    std::vector<std::pair<Uuid, bool>> presence;
    std::optional<std::string> statusLineAccount; // see AccountSteps::statusLineAccount()
    // Without following the live login: the account claude's state file names (no token read).
    std::optional<std::string> stateAccount;
};

Reads readLoginsAndSlots(const Services& services, SlotCustodian& custodian,
                         const std::vector<ProfileConfig>& profiles, bool connected, bool readLive) {
    Reads r;
    if (connected) { // a switch cut short is completed before anything reads claude's login
        try {
            AccountSteps::repair(services, custodian, profiles);
            custodian.settlePending(profiles);
        } catch (const std::exception&) {
        }
    }
    if (!readLive)
        r.stateAccount = ClaudeAppState::readEmail(services.home);
    if (!connected)
        return r;
    if (readLive) {
        try {
            r.liveBlob = ActiveCredentialStore::read(services.secrets, services.home);
        } catch (const std::exception&) {
        }
        r.statusLineAccount = AccountSteps::statusLineAccount(services, profiles);
    }
    for (const ProfileConfig& p : profiles)
        r.presence.emplace_back(p.id, custodian.has(p.id));
    return r;
}

} // namespace

RefreshCycle::RefreshCycle(UsageStore& store)
    : m_store(store) {
    const auto changed = [this] { loginChangedAfterDelay(++m_loginGeneration); };
    QObject::connect(&m_loginWatch, &QFileSystemWatcher::directoryChanged, &m_loginWatch, changed);
    QObject::connect(&m_loginWatch, &QFileSystemWatcher::fileChanged, &m_loginWatch, changed);
}

void RefreshCycle::watchLogin() {
    const std::filesystem::path file = ActiveCredentialStore::filePath(m_store.m_deps.services.home);
    const QString dir = QString::fromStdString(file.parent_path().string());
    const QString path = QString::fromStdString(file.string());
    if (!m_loginWatch.directories().contains(dir) && QFileInfo::exists(dir))
        m_loginWatch.addPath(dir);
    if (!m_loginWatch.files().contains(path) && QFileInfo(path).isFile())
        m_loginWatch.addPath(path);
}

QCoro::Task<> RefreshCycle::loginChangedAfterDelay(std::uint64_t generation) {
    const auto alive = m_store.m_alive;
    co_await m_store.m_deps.sleeper->sleep(kLoginSettles);
    if (!*alive || generation != m_loginGeneration)
        co_return; // it changed again meanwhile
    watchLogin();
    if (!m_store.m_config.keychainConnected || !m_store.m_config.autoReadLiveClaude)
        co_return;
    auto read = m_store.m_jobs->run([services = m_store.m_deps.services]() -> std::optional<std::string> {
        return ActiveCredentialStore::readNow(services.secrets, services.home).blob;
    });
    const std::optional<std::string> now = co_await read;
    if (!*alive || !now || now == m_liveSeen)
        co_return; // the folder's other files, claude's own rewrite of the same login, or half written
    if (m_store.m_isRefreshing)
        m_againAfterThis = true;
    else
        startPolling();
}

void RefreshCycle::startPolling() {
    pollLoop(++m_pollGeneration);
}

QCoro::Task<> RefreshCycle::pollLoop(std::uint64_t generation) {
    const auto alive = m_store.m_alive;
    for (;;) {
        if (!*alive || generation != m_pollGeneration)
            co_return;
        co_await refreshAll();
        if (!*alive || generation != m_pollGeneration)
            co_return;
        double interval = m_store.m_config.pollInterval();
        if (m_store.m_backoffUntil)
            interval = std::max(interval, DateTime::secondsBetween(m_store.now(), *m_store.m_backoffUntil));
        interval = std::min(interval, kMaxSleepSeconds);
        if (interval > 0)
            co_await m_store.m_deps.sleeper->sleep(
                std::chrono::milliseconds(static_cast<long long>(interval * 1000)));
    }
}

void RefreshCycle::scheduleSave() {
    m_savePending = true;
    saveAfterDelay(++m_saveGeneration);
}

QCoro::Task<> RefreshCycle::saveAfterDelay(std::uint64_t generation) {
    const auto alive = m_store.m_alive;
    co_await m_store.m_deps.sleeper->sleep(UsageStore::kSaveDelay);
    if (!*alive || generation != m_saveGeneration)
        co_return; // a later edit asked again
    m_savePending = false;
    m_store.saveNow();
    startPolling();
}

QCoro::Task<> RefreshCycle::refreshAfterChange() {
    // The cycle under way read the profiles too early to see the change: another follows it.
    if (m_store.m_isRefreshing) {
        m_againAfterThis = true;
        co_return;
    }
    co_await refreshAll();
}

QCoro::Task<> RefreshCycle::refreshAll() {
    if (m_store.m_isRefreshing)
        co_return;
    m_store.m_isRefreshing = true;
    const auto alive = m_store.m_alive;
    m_store.m_keeper->look(); // the person's edit of config.json, when no watch saw it
    const std::vector<ProfileConfig> profiles = m_store.m_config.profiles;
    const std::optional<Live> live = co_await readLive(profiles);
    if (!*alive || !live)
        co_return;

    // Every target at once, 0.5 s apart; outcomes applied as they arrive.
    const Plan cyclePlan = plan(profiles, *live);
    Totals totals;
    std::vector<QCoro::Task<>> children;
    children.reserve(cyclePlan.targets.size());
    for (std::size_t i = 0; i < cyclePlan.targets.size(); ++i) {
        const ProfileConfig& target = cyclePlan.targets[i];
        std::optional<OAuthCredentials> override;
        if (live->profile && target.id == *live->profile)
            override = live->credentials;
        children.push_back([](RefreshCycle* self, std::shared_ptr<bool> alive, Totals* totals, Uuid id,
                              QCoro::Task<ProfileReader::Outcome> pending) -> QCoro::Task<> {
            ProfileReader::Outcome outcome = co_await pending;
            if (*alive)
                self->apply(id, std::move(outcome), *totals);
        }(this, alive, &totals, target.id, fetch(target, override, static_cast<int>(i))));
    }
    for (auto& child : children)
        co_await child;
    if (!*alive)
        co_return;

    showDuplicates(cyclePlan);
    if (!live->connected)
        markUnconnected(profiles);
    followLiveLogin(*live);
    m_store.saveNow();
    backOff(totals);
    m_store.setLastRefresh(m_store.now());
    m_store.m_autoSwitch->notifyForecast();
    co_await m_store.m_autoSwitch->evaluate();
    if (!*alive)
        co_return;
    m_store.m_isRefreshing = false;
    if (std::exchange(m_againAfterThis, false))
        startPolling(); // claude's login changed while this cycle ran
}

// Reading the live login may store its identity: it takes a turn on the lane, so no switch,
// capture or enrolment changes the login between the reads.
QCoro::Task<std::optional<RefreshCycle::Live>> RefreshCycle::readLive(std::vector<ProfileConfig> profiles) {
    UsageStore& s = m_store;
    const auto alive = s.m_alive;
    const OperationLane::Turn turn = co_await s.m_lane.take();
    if (!*alive)
        co_return std::nullopt;
    Live live;
    live.changes = s.m_liveChanges;
    live.connected = s.m_config.keychainConnected;
    const bool readLive = live.connected && s.m_config.autoReadLiveClaude;

    auto readAll = s.m_jobs->run(
        [services = s.m_deps.services, custodian = s.m_slots, profiles, connected = live.connected,
         readLive] { return readLoginsAndSlots(services, *custodian, profiles, connected, readLive); });
    const Reads reads = co_await readAll;
    if (!*alive)
        co_return std::nullopt;
    for (const auto& [id, present] : reads.presence)
        s.setSlotPresence(id, present);
    live.blob = reads.liveBlob;
    m_liveSeen = reads.liveBlob;
    watchLogin();
    if (live.blob) {
        try {
            live.credentials = CredentialsProvider::parse(*live.blob, "active");
        } catch (const std::exception&) {
        }
    }
    // Its address: the status line's account (whose token is not to travel), else looked up once
    // per access token.
    if (readLive && live.credentials) {
        if (reads.statusLineAccount) {
            live.email = reads.statusLineAccount;
        } else {
            live.email = co_await liveAddress(live.credentials->accessToken);
            if (!*alive)
                co_return std::nullopt;
        }
    }
    s.setLiveEmail(readLive ? live.email : reads.stateAccount);
    if (const ProfileConfig* p = AccountSteps::withEmail(profiles, live.email))
        live.profile = p->id;
    // Its refresh token is claude's; the live profile's slot follows the live login and its
    // identity is refreshed — but only with an identity of its own account (claude may not have
    // rewritten ~/.claude.json yet).
    if (live.blob) {
        const bool fromStateFile = reads.statusLineAccount.has_value();
        if (!co_await keepLiveLogin(live.profile, *live.blob, live.email, fromStateFile))
            co_return std::nullopt;
    }
    co_return live;
}

QCoro::Task<std::optional<std::string>> RefreshCycle::liveAddress(std::string accessToken) {
    if (m_cachedLiveToken == accessToken && m_cachedLiveEmail) {
        std::optional<std::string> cached = m_cachedLiveEmail; // QCoro moves what co_return names
        co_return cached;
    }
    const auto alive = m_store.m_alive;
    auto lookUp = m_store.m_jobs->run([services = m_store.m_deps.services, accessToken] {
        return AnthropicAPI::profileEmail(services.http, accessToken);
    });
    const std::optional<std::string> email = co_await lookUp;
    if (!*alive)
        co_return std::nullopt;
    m_cachedLiveToken = accessToken;
    m_cachedLiveEmail = email;
    co_return email;
}

QCoro::Task<bool> RefreshCycle::keepLiveLogin(std::optional<Uuid> id, std::string blob,
                                              std::optional<std::string> email, bool fromStateFile) {
    const auto alive = m_store.m_alive;
    auto copy = m_store.m_jobs->run([services = m_store.m_deps.services, custodian = m_store.m_slots, id,
                                     blob, email, fromStateFile]() -> std::optional<std::string> {
        custodian->noteLive(blob, email);
        if (!id)
            return std::nullopt;
        try {
            return AccountSteps::storeLiveLogin(services, *custodian, *id, blob, email, fromStateFile);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    });
    const std::optional<std::string> identity = co_await copy;
    if (!*alive)
        co_return false;
    if (id)
        m_store.setSlotPresence(*id, true);
    if (id && identity)
        m_store.m_accounts->learnIdentity({*id, *identity});
    co_return true;
}

RefreshCycle::Plan RefreshCycle::plan(const std::vector<ProfileConfig>& profiles, const Live& live) const {
    // The live profile is the primary of its address; the others in configured order.
    std::vector<ProfileConfig> order = profiles;
    std::stable_partition(order.begin(), order.end(),
                          [&](const ProfileConfig& p) { return live.profile && p.id == *live.profile; });
    Plan result;
    std::map<std::string, Uuid> primaryOf;
    std::set<Uuid> duplicateIds;
    for (const ProfileConfig& p : order) {
        if (!p.accountEmail)
            continue;
        const auto [it, added] = primaryOf.try_emplace(*p.accountEmail, p.id);
        if (!added) {
            result.duplicates.emplace_back(p.id, it->second);
            duplicateIds.insert(p.id);
        }
    }
    // Without the secret store only what needs no slot is read.
    for (const ProfileConfig& p : profiles)
        if (!duplicateIds.contains(p.id) &&
            (live.connected || ProfileReader::wayOf(p) != ProfileReader::Way::endpoint))
            result.targets.push_back(p);
    return result;
}

QCoro::Task<ProfileReader::Outcome>
RefreshCycle::fetch(ProfileConfig profile, std::optional<OAuthCredentials> live, int staggerIndex) {
    const UsageStore& s = m_store;
    ProfileReader::Request request;
    request.baseDir = s.m_deps.configDir;
    const ProfileState* state = s.state(profile.id);
    request.includeEmail = !(state && state->email);
    request.statusLineFreshFor = std::chrono::seconds(static_cast<long long>(s.m_config.pollInterval()));
    if (state && state->ok())
        request.previous = state->ok()->windows;
    // The live profile is read with the live login; any other through the slots' custodian.
    request.token = [custodian = s.m_slots, live](const ProfileConfig& p) -> ProfileReader::Token {
        if (live) // claude's own: renewed by claude only
            return {*live, true};
        SlotCustodian::ForUse use = custodian->credentialsFor(p);
        return {std::move(use.resolved.credentials), use.claudes};
    };
    // Copies only from here on: the store may be gone by the end of the stagger.
    const auto alive = s.m_alive;
    const auto jobs = s.m_jobs;
    const Services services = s.m_deps.services;
    if (staggerIndex >= 1)
        co_await s.m_deps.sleeper->sleep(UsageStore::kStagger * staggerIndex);
    if (!*alive)
        co_return ProfileReader::Outcome{};
    auto read =
        jobs->run([services, profile, request] { return ProfileReader::read(services, profile, request); });
    co_return co_await read;
}

void RefreshCycle::apply(const Uuid& id, ProfileReader::Outcome outcome, Totals& totals) {
    UsageStore& s = m_store;
    const ProfileState* before = s.state(id);
    if (outcome.rateLimited || outcome.keepsLast) {
        totals.rateLimited = totals.rateLimited || outcome.rateLimited;
        if (outcome.retryAfter)
            totals.maxRetryAfter = std::max(totals.maxRetryAfter, *outcome.retryAfter);
        if (!before || !before->ok())
            s.setStatus(id, outcome.status); // the last good reading stays
        else if (outcome.keepsLast && outcome.status.errorValue())
            s.setProblem(id, outcome.status.errorValue()->message);
        return;
    }
    // A failed look says nothing against the reading before it: that stays, with its age and why
    // it was not read again.
    if (const auto* error = outcome.status.errorValue(); error && before && before->ok()) {
        s.setProblem(id, error->message);
        return;
    }
    // A status-line reading is recorded once, however many cycles show it.
    std::optional<Instant> takenBefore;
    if (before && before->ok())
        takenBefore = before->ok()->at;
    s.setStatus(id, outcome.status, outcome.source);
    if (outcome.email) {
        s.setEmail(id, outcome.email);
        s.backfillEmail(id, *outcome.email);
    }
    if (const auto* ok = outcome.status.okValue();
        ok && !(outcome.source == UsageSource::statusLine && takenBefore == ok->at)) {
        s.m_deps.history->append(HistoryRecord{ok->at, id, ok->windows});
        s.remember(id, ok->at, ok->windows);
    }
}

// Duplicates show their primary's reading and address.
void RefreshCycle::showDuplicates(const Plan& plan) {
    UsageStore& s = m_store;
    for (const auto& [duplicate, primary] : plan.duplicates) {
        const ProfileState* p = s.state(primary);
        if (p && p->status)
            s.setStatus(duplicate, *p->status);
        else
            s.removeStatus(duplicate);
        s.setEmail(duplicate, p ? p->email : std::nullopt);
    }
}

// Without the secret store no Claude profile read from its endpoint can be read.
void RefreshCycle::markUnconnected(const std::vector<ProfileConfig>& profiles) {
    for (const ProfileConfig& p : profiles)
        if (ProfileReader::wayOf(p) == ProfileReader::Way::endpoint) {
            const ProfileState* state = m_store.state(p.id);
            if (!state || !state->ok())
                m_store.setStatus(
                    p.id, ProfileStatus::error(
                              QCoreApplication::translate("UsageStore", "未接続 — 「接続」で認証してください")
                                  .toStdString()));
        }
}

// The active profile follows the live login; an unknown live account is offered. When an
// operation changed the login since it was read, what this cycle read is stale: the next cycle
// decides.
void RefreshCycle::followLiveLogin(const Live& live) {
    UsageStore& s = m_store;
    if (!s.m_config.autoReadLiveClaude || live.changes != s.m_liveChanges)
        return;
    std::optional<Uuid> match;
    if (const ProfileConfig* p = AccountSteps::withEmail(s.m_config.profiles, live.email))
        match = p->id;
    if (s.m_config.activeProfileID != match) {
        s.m_config.activeProfileID = match;
        emit s.configChanged();
    }
    if (live.email && !match && live.blob) {
        // Told once per account and run, besides the panel's offer.
        if (s.m_deps.notify && m_newAccountsTold.insert(*live.email).second)
            s.m_deps.notify(QCoreApplication::translate("UsageStore", "新しいアカウントを検出"),
                            QCoreApplication::translate(
                                "UsageStore", "claude に %1 でログインしています。パネルの「登録」で"
                                              "使用量を表示し、切替えられるようになります")
                                .arg(QString::fromStdString(*live.email)));
        s.setPendingEnroll(live.email, live.blob);
    } else
        s.setPendingEnroll(std::nullopt, std::nullopt);
}

// After rate limiting the next cycle waits (its Retry-After, at most five minutes); the message
// goes once a cycle is not limited.
void RefreshCycle::backOff(const Totals& totals) {
    UsageStore& s = m_store;
    if (!totals.rateLimited) {
        s.setBackoffUntil(std::nullopt);
        if (s.m_lastActionMessage && s.m_lastActionMessage == m_backoffMessage)
            s.setLastActionMessage(std::nullopt);
        return;
    }
    const double wait =
        totals.maxRetryAfter > 0
            ? std::min(totals.maxRetryAfter, static_cast<double>(UsageStore::kMaximumBackoff.count()))
            : 30.0;
    s.setBackoffUntil(s.now() +
                      std::chrono::duration_cast<Instant::duration>(std::chrono::duration<double>(wait)));
    m_backoffMessage = QCoreApplication::translate(
                           "UsageStore", "レート制限のため約%1秒後に自動再取得します（表示は直前の値）")
                           .arg(static_cast<long long>(wait))
                           .toStdString();
    s.setLastActionMessage(m_backoffMessage);
}
