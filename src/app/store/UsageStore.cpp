#include "store/UsageStore.h"

#include "claude/ActiveCredentialStore.h"
#include "claude/ClaudeAppState.h"
#include "claude/CredentialResolver.h"
#include "claude/ProfileSlotStore.h"
#include "codex/CodexProvider.h"
#include "config/ConfigStore.h"
#include "secrets/SecretStore.h"
#include "statusline/StatusLineStore.h"
#include "usage/AnthropicAPI.h"
#include "usage/UsageForecast.h"

#include <QCoro/QCoroFuture>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

constexpr double kSeedHours = 48;
constexpr double kMaxSleepSeconds = 365.0 * 24 * 3600; // a poll interval beyond a year waits a year

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

QDateTime toQt(std::optional<Instant> t) {
    if (!t)
        return {};
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(t->time_since_epoch()).count(), Qt::UTC);
}

// Whether the profile has a slot, read off the main thread by the callers.
bool hasSlot(SecretStore& secrets, const Uuid& id) {
    if (CredentialResolver::keychainDisabled())
        return false;
    const SecretRead slot = secrets.read(ProfileSlotStore::service, id.toString());
    return slot.status == SecretStatus::success;
}

// Writes a blob to a profile's slot unless it already holds those bytes (the secret store may
// rewrite its whole keyring on a write). False when the write failed.
bool writeSlot(SecretStore& secrets, const Uuid& id, const std::string& blob) {
    const SecretRead current = secrets.read(ProfileSlotStore::service, id.toString());
    if (current.status == SecretStatus::success && current.data == blob)
        return true;
    try {
        ProfileSlotStore::write(secrets, id, blob);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// A profile's credentials for use, in a worker job. Renewed credentials held in memory are
// written to the slot first when that works now; `stillHeld` is what must stay held afterwards.
struct Fresh {
    std::optional<ResolvedCredentials> resolved;
    std::optional<std::string> error;
    std::optional<std::string> stillHeld;
};
Fresh freshCredentials(const Services& services, const ProfileConfig& profile,
                       std::optional<std::string> held) {
    Fresh fresh;
    if (held && writeSlot(services.secrets, profile.id, *held))
        held.reset();
    fresh.stillHeld = held;
    try {
        // A profile read from claude's status line never has its token renewed here: claude
        // renews its own login when it needs to.
        fresh.resolved = profile.usageSource == UsageSource::statusLine
                             ? CredentialResolver::resolve(services, profile, false, held)
                             : CredentialResolver::resolveFresh(services, profile, false, held);
        if (fresh.resolved->unsaved)
            fresh.stillHeld = fresh.resolved->raw;
    } catch (const std::exception& e) {
        fresh.error = e.what();
    }
    return fresh;
}

// Whether an identity blob read from ~/.claude.json belongs to the account with this address.
bool identityOf(const std::optional<std::string>& identity, const std::optional<std::string>& email) {
    return identity && email && ClaudeAppState::identityEmail(*identity) == email;
}

// The first profile whose address is exactly `email`; none for no address.
const ProfileConfig* withEmail(const std::vector<ProfileConfig>& profiles,
                               const std::optional<std::string>& email) {
    if (!email)
        return nullptr;
    for (const ProfileConfig& p : profiles)
        if (p.accountEmail == email)
            return &p;
    return nullptr;
}

// The live login's account as claude's state file names it, when that is a status-line profile's:
// its token is not to travel, not even to learn its address. Off the main thread.
std::optional<std::string> statusLineAccount(const Services& services,
                                             const std::vector<ProfileConfig>& profiles) {
    const auto readFromStatusLine = [](const ProfileConfig& p) {
        return p.usageSource == UsageSource::statusLine;
    };
    if (std::none_of(profiles.begin(), profiles.end(), readFromStatusLine))
        return std::nullopt; // nothing to spare: the state file is not read
    const auto email = ClaudeAppState::readEmail(services.home);
    const ProfileConfig* owner = withEmail(profiles, email);
    return owner && readFromStatusLine(*owner) ? email : std::nullopt;
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

std::string localPart(const std::string& email) {
    return email.substr(0, email.find('@'));
}

} // namespace

UsageStore::UsageStore(StoreDependencies dependencies, QObject* parent)
    : QObject(parent)
    , m_deps(std::move(dependencies)) {
    ConfigStore::Loaded loaded = ConfigStore::load(m_deps.configDir, m_deps.services.home);
    m_config = std::move(loaded.config);
    m_configFileLeftAlone = loaded.fileLeftAlone;
    if (m_configFileLeftAlone)
        m_lastActionMessage =
            "config.json "
            "を読み込めないため、既定の設定で動作中です。設定を変更するまでファイルには書き込みません";
    for (const ProfileConfig& p : m_config.profiles)
        if (p.accountEmail)
            m_emails[p.id] = *p.accountEmail;
    seedFromHistory();
    startPolling();
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

void UsageStore::holdSlot(const Uuid& id, std::optional<std::string> blob) {
    if (blob)
        m_heldSlots.insert_or_assign(id, std::move(*blob));
    else
        m_heldSlots.erase(id);
}

// ---- Polling, refresh cycle, save -----------------------------------------------------------

void UsageStore::startPolling() {
    pollLoop(++m_pollGeneration);
}

QCoro::Task<> UsageStore::pollLoop(std::uint64_t generation) {
    const auto alive = m_alive;
    for (;;) {
        if (!*alive || generation != m_pollGeneration)
            co_return;
        co_await refreshAll();
        if (!*alive || generation != m_pollGeneration)
            co_return;
        double interval =
            std::max(m_config.pollIntervalSec, static_cast<double>(kMinimumPollInterval.count()));
        if (m_backoffUntil)
            interval = std::max(interval, DateTime::secondsBetween(now(), *m_backoffUntil));
        interval = std::min(interval, kMaxSleepSeconds);
        if (interval > 0)
            co_await m_deps.sleeper->sleep(
                std::chrono::milliseconds(static_cast<long long>(interval * 1000)));
    }
}

void UsageStore::scheduleSave() {
    saveAfterDelay(++m_saveGeneration);
}

QCoro::Task<> UsageStore::saveAfterDelay(std::uint64_t generation) {
    const auto alive = m_alive;
    co_await m_deps.sleeper->sleep(kSaveDelay);
    if (!*alive || generation != m_saveGeneration)
        co_return; // a later edit asked again
    saveNow();
    startPolling();
}

void UsageStore::saveNow() {
    if (m_configFileLeftAlone)
        return; // never over a file we could not read, until the user changes something
    ConfigStore::save(m_config, m_deps.configDir);
}

QCoro::Task<UsageStore::FetchOutcome>
UsageStore::fetch(const StoreDependencies& dependencies, std::shared_ptr<JobGroup> jobs,
                  ProfileConfig profile, std::optional<OAuthCredentials> liveOverride, bool includeEmail,
                  int staggerIndex, std::optional<std::string> heldSlot, StatusLineUse statusLine) {
    const StoreDependencies deps = dependencies; // the store may be gone before this ends
    if (staggerIndex >= 1)
        co_await deps.sleeper->sleep(kStagger * staggerIndex);
    const Services services = deps.services;
    // GCC 12 destroys a lambda temporary inside a co_await expression twice: name the job.
    const std::filesystem::path baseDir = deps.configDir;
    auto job1 = jobs->run([services, profile, liveOverride, includeEmail, heldSlot, statusLine,
                           baseDir]() -> FetchOutcome {
        FetchOutcome outcome;
        outcome.id = profile.id;
        outcome.unsavedSlot = heldSlot;
        if (profile.provider == Provider::claude) {
            // What claude told its status-line command, when the profile is read that way or the
            // reading is recent enough to spare the endpoint a call.
            const Instant now = services.clock.now();
            const auto reading = StatusLineStore::load(baseDir, profile.configDir, services.home);
            if (profile.usageSource == UsageSource::statusLine) {
                outcome.source = UsageSource::statusLine;
                outcome.status =
                    reading ? ProfileStatus::ok(StatusLineStore::windowsAt(*reading, now), reading->at)
                            : ProfileStatus::error(StatusLineStore::noReadingMessage(profile.configDir));
                return outcome;
            }
            if (reading && reading->at <= now && now - reading->at < statusLine.freshFor) {
                // The endpoint's other windows stay as last read.
                std::vector<UsageWindow> windows = statusLine.previous;
                for (const UsageWindow& w : StatusLineStore::windowsAt(*reading, now)) {
                    const auto it = std::find_if(windows.begin(), windows.end(),
                                                 [&](const UsageWindow& old) { return old.key == w.key; });
                    if (it != windows.end())
                        *it = w;
                    else
                        windows.push_back(w);
                }
                outcome.source = UsageSource::statusLine;
                outcome.status = ProfileStatus::ok(std::move(windows), reading->at);
                return outcome;
            }
        }
        if (profile.provider == Provider::codex) {
            try {
                auto windows =
                    CodexProvider::readUsage(profile.configDir, services.home, services.clock.now());
                outcome.status = ProfileStatus::ok(std::move(windows), services.clock.now());
            } catch (const std::exception& e) {
                outcome.status = ProfileStatus::error(e.what());
            }
            return outcome;
        }
        try {
            OAuthCredentials credentials;
            if (liveOverride) {
                credentials = *liveOverride;
            } else {
                Fresh fresh = freshCredentials(services, profile, heldSlot);
                outcome.unsavedSlot = fresh.stillHeld;
                if (fresh.error) {
                    outcome.status = ProfileStatus::error(*fresh.error);
                    return outcome;
                }
                credentials = fresh.resolved->credentials;
            }
            auto windows = AnthropicAPI::usage(services.http, credentials.accessToken);
            if (includeEmail)
                outcome.email = AnthropicAPI::profileEmail(services.http, credentials.accessToken);
            outcome.status = ProfileStatus::ok(std::move(windows), services.clock.now());
        } catch (const APIError& e) {
            outcome.status = ProfileStatus::error(e.what());
            if (e.kind() == APIError::Kind::rateLimited) {
                outcome.rateLimited = true;
                outcome.retryAfter = e.retryAfter();
            }
        } catch (const std::exception& e) {
            outcome.status = ProfileStatus::error(e.what());
        }
        return outcome;
    });
    co_return co_await job1;
}

namespace {

struct CycleReads {
    std::optional<std::string> liveBlob;
    std::vector<std::pair<Uuid, bool>> presence;
    std::optional<std::string> statusLineAccount; // see statusLineAccount()
};

struct CycleTotals {
    bool rateLimited = false;
    double maxRetryAfter = 0;
};

} // namespace

QCoro::Task<> UsageStore::refreshAll() {
    if (m_isRefreshing)
        co_return;
    m_isRefreshing = true;
    const auto alive = m_alive;
    const Services services = m_deps.services;

    std::vector<ProfileConfig> profiles;
    bool connected = false;
    CycleReads reads;
    std::optional<OAuthCredentials> liveCredentials;
    std::optional<std::string> email;
    std::optional<Uuid> liveID;
    std::uint64_t liveChanges = 0;
    {
        // Steps 2-9 read the live login and may store its identity: they take a turn on the lane,
        // so no switch, capture or enrolment changes the login between the reads.
        const OperationLane::Turn turn = co_await m_lane.take();
        if (!*alive)
            co_return;
        liveChanges = m_liveChanges;

        // 2. The inputs of this cycle.
        profiles = m_config.profiles;
        connected = m_config.keychainConnected;
        const bool readLive = connected && m_config.autoReadLiveClaude;

        // 3. Secret-store and file reads, off the main thread.
        auto job2 = m_jobs->run([services, profiles, connected, readLive]() {
            CycleReads r;
            if (!connected)
                return r;
            if (readLive) {
                try {
                    r.liveBlob = ActiveCredentialStore::read(services.secrets, services.home);
                } catch (const std::exception&) {
                }
                r.statusLineAccount = statusLineAccount(services, profiles);
            }
            for (const ProfileConfig& p : profiles)
                r.presence.emplace_back(p.id, hasSlot(services.secrets, p.id));
            return r;
        });
        reads = co_await job2;
        if (!*alive)
            co_return;

        // 4.
        if (connected)
            for (const auto& [id, present] : reads.presence)
                setSlotPresence(id, present);

        // 5. The live login.
        if (reads.liveBlob) {
            try {
                liveCredentials = CredentialsProvider::parse(*reads.liveBlob, "active");
            } catch (const std::exception&) {
            }
        }

        // 6-7. Its e-mail, looked up once per access token.
        if (readLive && liveCredentials && reads.statusLineAccount) {
            email = reads.statusLineAccount;
        } else if (readLive && liveCredentials) {
            const std::string token = liveCredentials->accessToken;
            if (m_cachedLiveToken == token && m_cachedLiveEmail) {
                email = m_cachedLiveEmail;
            } else {
                auto job3 = m_jobs->run(
                    [services, token] { return AnthropicAPI::profileEmail(services.http, token); });
                email = co_await job3;
                if (!*alive)
                    co_return;
                m_cachedLiveToken = token;
                m_cachedLiveEmail = email;
            }
        }
        setLiveEmail(email);

        // 8. The profile that is logged in.
        if (const ProfileConfig* p = withEmail(profiles, email))
            liveID = p->id;

        // 9. Its slot follows the live login; its identity is refreshed — but only with an
        //    identity of its own account (claude may not have rewritten ~/.claude.json yet).
        if (liveID && reads.liveBlob) {
            if (!co_await storeLiveLogin(*liveID, *reads.liveBlob, email))
                co_return;
            setSlotPresence(*liveID, true);
        }
    }

    // 10-12. Fetch order (the live profile first) and profiles sharing an address.
    const std::map<Uuid, std::string> emailSnapshot = m_emails;
    std::vector<ProfileConfig> order = profiles;
    std::stable_partition(order.begin(), order.end(),
                          [&](const ProfileConfig& p) { return liveID && p.id == *liveID; });
    std::map<std::string, Uuid> primaryOf;
    std::vector<std::pair<Uuid, Uuid>> duplicates; // duplicate → primary
    std::set<Uuid> duplicateIds;
    for (const ProfileConfig& p : order) {
        if (!p.accountEmail)
            continue;
        const auto [it, added] = primaryOf.try_emplace(*p.accountEmail, p.id);
        if (!added) {
            duplicates.emplace_back(p.id, it->second);
            duplicateIds.insert(p.id);
        }
    }

    // 13. Targets, in configured order.
    std::vector<ProfileConfig> targets;
    for (const ProfileConfig& p : profiles)
        if (!duplicateIds.contains(p.id) &&
            (p.provider == Provider::codex || p.usageSource == UsageSource::statusLine || connected))
            targets.push_back(p);

    // 14-15. Every target at once, 0.5 s apart; outcomes applied as they arrive.
    auto totals = std::make_shared<CycleTotals>();
    std::vector<QCoro::Task<>> children;
    children.reserve(targets.size());
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const ProfileConfig& target = targets[i];
        const bool includeEmail = !emailSnapshot.contains(target.id);
        const bool live = liveID && target.id == *liveID;
        std::optional<OAuthCredentials> override;
        if (live)
            override = liveCredentials;
        std::optional<std::string> held;
        if (const auto it = m_heldSlots.find(target.id); !live && it != m_heldSlots.end())
            held = it->second;
        children.push_back(
            [](UsageStore* self, std::shared_ptr<bool> alive, std::shared_ptr<CycleTotals> totals,
               bool usesSlot, std::optional<std::string> heldBefore,
               QCoro::Task<FetchOutcome> pending) -> QCoro::Task<> {
                FetchOutcome outcome = co_await pending;
                if (!*alive)
                    co_return;
                // Renewed credentials stay held until their slot has them — unless an operation
                // changed what is held meanwhile (it knows better).
                if (usesSlot && outcome.unsavedSlot != heldBefore) {
                    const auto it = self->m_heldSlots.find(outcome.id);
                    const std::optional<std::string> now =
                        it == self->m_heldSlots.end() ? std::nullopt : std::optional(it->second);
                    if (now == heldBefore)
                        self->holdSlot(outcome.id, outcome.unsavedSlot);
                }
                if (outcome.rateLimited) {
                    totals->rateLimited = true;
                    if (outcome.retryAfter)
                        totals->maxRetryAfter = std::max(totals->maxRetryAfter, *outcome.retryAfter);
                    const auto it = self->m_statuses.find(outcome.id);
                    if (it == self->m_statuses.end() || !it->second.isOk())
                        self->setStatus(outcome.id, outcome.status); // the last good reading stays
                    co_return;
                }
                // A status-line reading is recorded once, however many cycles show it.
                std::optional<Instant> takenBefore;
                if (const auto it = self->m_statuses.find(outcome.id); it != self->m_statuses.end())
                    if (const auto* ok = it->second.okValue())
                        takenBefore = ok->at;
                self->m_sources[outcome.id] = outcome.source; // announced with the status
                self->setStatus(outcome.id, outcome.status);
                if (outcome.email) {
                    self->setEmail(outcome.id, outcome.email);
                    self->backfillEmail(outcome.id, *outcome.email);
                }
                if (const auto* ok = outcome.status.okValue();
                    ok && !(outcome.source == UsageSource::statusLine && takenBefore == ok->at)) {
                    self->m_deps.history->append(HistoryRecord{ok->at, outcome.id, ok->windows});
                    self->remember(outcome.id, ok->at, ok->windows);
                }
            }(this, alive, totals, !live && target.provider == Provider::claude, held,
                                                  fetch(m_deps, m_jobs, target, override, includeEmail,
                                                        static_cast<int>(i), held, statusLineUse(target))));
    }
    for (auto& child : children)
        co_await child;
    if (!*alive)
        co_return;

    // 16. Duplicates show their primary's reading and address.
    for (const auto& [duplicate, primary] : duplicates) {
        if (const auto it = m_statuses.find(primary); it != m_statuses.end())
            setStatus(duplicate, it->second);
        else
            removeStatus(duplicate);
        if (const auto it = m_emails.find(primary); it != m_emails.end())
            setEmail(duplicate, it->second);
        else
            setEmail(duplicate, std::nullopt);
    }

    // 17. Without the secret store no Claude profile can be read.
    if (!connected && !profiles.empty())
        for (const ProfileConfig& p : profiles)
            if (p.provider == Provider::claude && p.usageSource == UsageSource::api) {
                const auto it = m_statuses.find(p.id);
                if (it == m_statuses.end() || !it->second.isOk())
                    setStatus(p.id, ProfileStatus::error("未接続 — 「接続」で認証してください"));
            }

    // 18. The active profile follows the live login; an unknown live account is offered. When an
    //     operation changed the login since step 3, what this cycle read is stale: the next
    //     cycle decides.
    if (m_config.autoReadLiveClaude && liveChanges == m_liveChanges) {
        std::optional<Uuid> matchID;
        if (const ProfileConfig* p = withEmail(m_config.profiles, email))
            matchID = p->id;
        if (m_config.activeProfileID != matchID) {
            m_config.activeProfileID = matchID;
            emit configChanged();
        }
        if (email && !matchID && reads.liveBlob)
            setPendingEnroll(email, reads.liveBlob);
        else
            setPendingEnroll(std::nullopt, std::nullopt);
    }

    // 19.
    saveNow();

    // 20. Back-off after rate limiting.
    if (totals->rateLimited) {
        double wait = totals->maxRetryAfter > 0
                          ? std::min(totals->maxRetryAfter, static_cast<double>(kMaximumBackoff.count()))
                          : 30.0;
        setBackoffUntil(now() +
                        std::chrono::duration_cast<Instant::duration>(std::chrono::duration<double>(wait)));
        setLastActionMessage("レート制限のため約" + std::to_string(static_cast<long long>(wait)) +
                             "秒後に自動再取得します（表示は直前の値）");
    } else {
        setBackoffUntil(std::nullopt);
        if (m_lastActionMessage && m_lastActionMessage->starts_with("レート制限"))
            setLastActionMessage(std::nullopt);
    }

    // 21-23.
    setLastRefresh(now());
    notifyForecast();
    co_await evaluateAutoSwitch();
    if (!*alive)
        co_return;
    m_isRefreshing = false;
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
    std::vector<UsageForecast::Reading> readings;
    if (const auto p = m_recent.find(id); p != m_recent.end())
        if (const auto k = p->second.find(window.key); k != p->second.end())
            for (const auto& r : k->second)
                if (r.at < takenAt) // the window itself is the reading taken then
                    readings.push_back(r);
    return UsageForecast::fullAt(window, takenAt, readings);
}

QString UsageStore::clockText(Instant t, Instant now) {
    const auto local = [](Instant i) {
        return QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(i.time_since_epoch()).count());
    };
    const QDateTime at = local(t);
    return at.toString(at.date() == local(now).date() ? QStringLiteral("H:mm") : QStringLiteral("M/d H:mm"));
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
        m_deps.notify(
            QStringLiteral("使用量の予測"),
            QStringLiteral("「%1」のセッションはこのペースだと %2 ごろ上限に達します（リセット %3）")
                .arg(QString::fromStdString(p->name), clockText(*full, now()),
                     clockText(*w.resetsAt, now())));
    }
}

void UsageStore::seedFromHistory() {
    const auto since = now() - std::chrono::duration_cast<Instant::duration>(
                                   std::chrono::hours(static_cast<int>(kSeedHours)));
    std::map<Uuid, const HistoryRecord*> latest;
    const std::vector<HistoryRecord> records = m_deps.history->load(since);
    for (const HistoryRecord& r : records) {
        latest[r.profileID] = &r;
        remember(r.profileID, r.ts, r.windows);
    }
    for (const auto& [id, record] : latest)
        setStatus(id, ProfileStatus::ok(record->windows, record->ts));
}

QCoro::Task<bool> UsageStore::storeLiveLogin(Uuid id, std::string blob, std::optional<std::string> email) {
    const auto alive = m_alive;
    const Services services = m_deps.services;
    struct Copied {
        bool written = false;
        std::optional<std::string> identity;
    };
    auto job = m_jobs->run([services, id, blob] {
        return Copied{writeSlot(services.secrets, id, blob), ClaudeAppState::readIdentity(services.home)};
    });
    const Copied copied = co_await job;
    if (!*alive)
        co_return false;
    holdSlot(id, copied.written ? std::nullopt : std::optional(blob));
    if (identityOf(copied.identity, email))
        if (ProfileConfig* p = findProfile(id); p && p->accountIdentity != copied.identity) {
            p->accountIdentity = copied.identity;
            emit configChanged();
        }
    co_return true;
}

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
    const Services services = m_deps.services;
    auto job5 = m_jobs->run([services, candidates]() -> std::optional<ProfileConfig> {
        for (const ProfileConfig& p : candidates)
            if (hasSlot(services.secrets, p.id))
                return p;
        return std::nullopt;
    });
    const std::optional<ProfileConfig> chosen = co_await job5;
    if (!*alive || !chosen)
        co_return;

    m_lastAutoSwitchAt = now();
    co_await switchSteps(*chosen);
    if (!*alive)
        co_return;
    const std::string body = "セッション" + std::to_string(static_cast<long long>(*activeUtil)) + "% → 「" +
                             chosen->name + "」に切替えました。claude を起動し直してください";
    if (m_deps.notify)
        m_deps.notify(QStringLiteral("アカウント自動切替"), qs(body));
}

// ---- Menu bar -------------------------------------------------------------------------------

std::optional<std::pair<ProfileConfig, std::vector<UsageWindow>>> UsageStore::activeProfileWindows() const {
    std::vector<const ProfileConfig*> order;
    const ProfileConfig* active = nullptr;
    if (m_config.activeProfileID)
        for (const ProfileConfig& p : m_config.profiles)
            if (p.id == *m_config.activeProfileID) {
                active = &p;
                break;
            }
    if (active)
        order.push_back(active);
    for (const ProfileConfig& p : m_config.profiles)
        if (&p != active)
            order.push_back(&p);
    for (const ProfileConfig* p : order) {
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

// ---- Account operations ---------------------------------------------------------------------

QCoro::Task<> UsageStore::connectKeychain() {
    userEdited();
    m_config.keychainConnected = true;
    emit configChanged();
    saveNow();
    setLastActionMessage("Keychain に接続しました（許可ダイアログが出たら「常に許可」を）");
    co_await refreshAll();
}

void UsageStore::disconnectKeychain() {
    userEdited();
    m_config.keychainConnected = false;
    emit configChanged();
    saveNow();
    setLiveEmail(std::nullopt);
    setLastActionMessage("Keychain 接続を解除しました");
}

QCoro::Task<> UsageStore::enrollDetectedAccount() {
    const auto alive = m_alive;
    const Services services = m_deps.services;
    {
        // The pending account is read once the turn is ours: a second click finds it enrolled.
        const OperationLane::Turn turn = co_await m_lane.take();
        if (!*alive || !m_pendingEnrollEmail || !m_pendingEnrollRaw)
            co_return;
        userEdited();
        const std::string email = *m_pendingEnrollEmail;
        const std::string blob = *m_pendingEnrollRaw;

        // A placeholder profile (Claude, no address, no slot) takes the account.
        std::vector<ProfileConfig> placeholders;
        for (const ProfileConfig& p : m_config.profiles)
            if (p.provider == Provider::claude && !p.accountEmail)
                placeholders.push_back(p);
        auto job6 = m_jobs->run([services, placeholders]() -> std::optional<Uuid> {
            for (const ProfileConfig& p : placeholders)
                if (!hasSlot(services.secrets, p.id))
                    return p.id;
            return std::nullopt;
        });
        const std::optional<Uuid> reuse = co_await job6;
        if (!*alive)
            co_return;

        Uuid targetId;
        if (ProfileConfig* p = reuse ? findProfile(*reuse) : nullptr) {
            p->accountEmail = email;
            if (p->name.starts_with("account"))
                p->name = localPart(email);
            targetId = p->id;
        } else {
            ProfileConfig added;
            added.name = localPart(email);
            added.configDir = "~/.claude";
            const auto palette = ColorPalette::all();
            added.colorName = std::string(palette[m_config.profiles.size() % palette.size()].name);
            added.accountEmail = email;
            added.provider = Provider::claude;
            targetId = added.id;
            m_config.profiles.push_back(std::move(added));
        }
        emit configChanged();

        struct Stored {
            std::optional<std::string> error;
            std::optional<std::string> identity;
        };
        auto job7 = m_jobs->run([services, targetId, blob]() {
            Stored s;
            try {
                ProfileSlotStore::write(services.secrets, targetId, blob);
            } catch (const std::exception& e) {
                s.error = e.what();
                return s;
            }
            s.identity = ClaudeAppState::readIdentity(services.home);
            return s;
        });
        const Stored stored = co_await job7;
        if (!*alive)
            co_return;
        if (stored.error) {
            setLastActionMessage("登録失敗: " + *stored.error);
            co_return;
        }
        holdSlot(targetId, std::nullopt);
        if (identityOf(stored.identity, email))
            if (ProfileConfig* p = findProfile(targetId))
                p->accountIdentity = stored.identity;
        m_config.activeProfileID = targetId;
        m_config.keychainConnected = true;
        ++m_liveChanges;
        emit configChanged();
        setEmail(targetId, email);
        saveNow();
        setPendingEnroll(std::nullopt, std::nullopt);
        setLastActionMessage("「" + email + "」を登録しました");
    }
    startPolling();
    co_await refreshAll();
}

QCoro::Task<> UsageStore::captureActive(ProfileConfig profile) {
    const auto alive = m_alive;
    const Services services = m_deps.services;
    {
        const OperationLane::Turn turn = co_await m_lane.take();
        if (!*alive)
            co_return;
        userEdited();
        struct Captured {
            std::optional<std::string> error;
            std::optional<std::string> email;
            std::optional<std::string> identity;
        };
        auto job8 = m_jobs->run([services, profile]() {
            Captured c;
            try {
                const std::string blob = ActiveCredentialStore::read(services.secrets, services.home);
                const OAuthCredentials credentials = CredentialsProvider::parse(blob, "active");
                ProfileSlotStore::write(services.secrets, profile.id, blob);
                c.email = AnthropicAPI::profileEmail(services.http, credentials.accessToken);
                c.identity = ClaudeAppState::readIdentity(services.home);
            } catch (const std::exception& e) {
                c.error = e.what();
            }
            return c;
        });
        const Captured captured = co_await job8;
        if (!*alive)
            co_return;
        if (captured.error) {
            setLastActionMessage("取り込み失敗: " + *captured.error);
            co_return;
        }
        holdSlot(profile.id, std::nullopt);
        if (ProfileConfig* p = findProfile(profile.id)) {
            p->accountEmail = captured.email; // none clears an earlier address
            // Only an identity of the captured account; without a known address none is kept.
            p->accountIdentity =
                identityOf(captured.identity, captured.email) ? captured.identity : std::nullopt;
        }
        m_config.activeProfileID = profile.id;
        m_config.keychainConnected = true;
        ++m_liveChanges;
        emit configChanged();
        saveNow();
        setEmail(profile.id, std::nullopt);
        setLastActionMessage("「" + profile.name + "」に現在のログインを取り込みました");
    }
    co_await refreshAll();
}

QCoro::Task<> UsageStore::switchTo(ProfileConfig target) {
    const auto alive = m_alive;
    bool switched = false;
    {
        const OperationLane::Turn turn = co_await m_lane.take();
        if (!*alive)
            co_return;
        // The profile as it is now: it may have been captured or edited while this click waited.
        if (const ProfileConfig* current = findProfile(target.id))
            target = *current;
        userEdited();
        switched = co_await switchSteps(std::move(target));
    }
    if (*alive && switched)
        co_await refreshAll();
}

QCoro::Task<bool> UsageStore::switchSteps(ProfileConfig target) {
    if (target.provider == Provider::codex)
        co_return false;
    if (!target.accountIdentity) {
        setLastActionMessage(
            "「" + target.name +
            "」は識別情報が未取得です。そのアカウントで claude にログイン中に「取り込む」を実行してください");
        co_return false;
    }
    const auto alive = m_alive;
    const Services services = m_deps.services;

    // 3. The outgoing login goes back into the slot of its own profile.
    struct Outgoing {
        std::optional<std::string> blob;
        std::optional<std::string> email;
    };
    auto job9 = m_jobs->run([services, profiles = m_config.profiles]() {
        Outgoing o;
        try {
            o.blob = ActiveCredentialStore::read(services.secrets, services.home);
            const OAuthCredentials credentials = CredentialsProvider::parse(*o.blob, "active");
            o.email = statusLineAccount(services, profiles);
            if (!o.email)
                o.email = AnthropicAPI::profileEmail(services.http, credentials.accessToken);
        } catch (const std::exception&) {
            o.email.reset();
        }
        return o;
    });
    const Outgoing outgoing = co_await job9;
    if (!*alive)
        co_return false;
    if (outgoing.email) {
        const ProfileConfig* owner = withEmail(m_config.profiles, outgoing.email);
        // The identity is the outgoing account's only when claude has written it already.
        if (owner && owner->id != target.id &&
            !co_await storeLiveLogin(owner->id, *outgoing.blob, outgoing.email))
            co_return false;
    }

    // 4-6. The target's credentials become the live login, its identity the live identity. When
    // the identity cannot be written, the previous live credential is put back: a login half
    // switched (one account's token beside another's identity) is worse than none.
    const std::optional<std::string> previousLive = outgoing.blob;
    std::optional<std::string> held;
    if (const auto it = m_heldSlots.find(target.id); it != m_heldSlots.end())
        held = it->second;
    struct Written {
        std::optional<std::string> error;
        std::optional<std::string> stillHeld;
    };
    auto job11 = m_jobs->run([services, target, previousLive, held]() {
        Written w;
        Fresh fresh = freshCredentials(services, target, held);
        w.stillHeld = fresh.stillHeld;
        if (fresh.error) {
            w.error = fresh.error;
            return w;
        }
        try {
            ActiveCredentialStore::write(services.secrets, services.home, fresh.resolved->raw);
        } catch (const std::exception& e) {
            w.error = e.what();
            return w;
        }
        try {
            ClaudeAppState::writeIdentity(services.home, *target.accountIdentity);
        } catch (const std::exception& e) {
            if (previousLive) {
                try {
                    ActiveCredentialStore::write(services.secrets, services.home, *previousLive);
                } catch (const std::exception&) {
                }
            }
            w.error = e.what();
        }
        return w;
    });
    const Written written = co_await job11;
    if (!*alive)
        co_return false;
    ++m_liveChanges;
    holdSlot(target.id, written.stillHeld);
    if (written.error) {
        setLastActionMessage("切替失敗: " + *written.error);
        co_return false;
    }
    m_config.activeProfileID = target.id;
    emit configChanged();
    saveNow();
    setLastActionMessage("「" + target.name +
                         "」に切替えました。開いている claude は一度終了し、新しく起動し直してください");
    co_return true;
}

void UsageStore::addProfile(Provider provider) {
    userEdited();
    const std::size_t n = m_config.profiles.size();
    ProfileConfig p;
    if (provider == Provider::codex) {
        p.name = "Codex";
        p.configDir = "~/.codex";
    } else {
        p.name = "account" + std::to_string(n + 1);
        p.configDir = "~/.claude";
    }
    const auto palette = ColorPalette::all();
    p.colorName = std::string(palette[n % palette.size()].name);
    p.provider = provider;
    m_config.profiles.push_back(std::move(p));
    emit configChanged();
    scheduleSave();
}

void UsageStore::removeProfile(const Uuid& id) {
    userEdited();
    std::erase_if(m_config.profiles, [&](const ProfileConfig& p) { return p.id == id; });
    removeSlotInTurn(id); // nothing waits for it
    m_heldSlots.erase(id);
    removeStatus(id);
    setEmail(id, std::nullopt);
    if (m_slotPresence.erase(id))
        emit slotPresenceChanged();
    if (m_config.activeProfileID == id)
        m_config.activeProfileID.reset();
    emit configChanged();
    scheduleSave();
}

void UsageStore::moveProfile(const Uuid& id, int by) {
    userEdited();
    auto& profiles = m_config.profiles;
    const auto it =
        std::find_if(profiles.begin(), profiles.end(), [&](const ProfileConfig& p) { return p.id == id; });
    if (it == profiles.end())
        return;
    const long long i = it - profiles.begin();
    const long long j = i + by;
    if (j < 0 || j >= static_cast<long long>(profiles.size()))
        return;
    std::swap(profiles[static_cast<std::size_t>(i)], profiles[static_cast<std::size_t>(j)]);
    emit configChanged();
    saveNow();
}

void UsageStore::moveProfile(const Uuid& id, const Uuid& before) {
    userEdited();
    if (id == before)
        return;
    auto& profiles = m_config.profiles;
    const auto it =
        std::find_if(profiles.begin(), profiles.end(), [&](const ProfileConfig& p) { return p.id == id; });
    if (it == profiles.end())
        return;
    ProfileConfig moved = std::move(*it);
    profiles.erase(it);
    const auto at = std::find_if(profiles.begin(), profiles.end(),
                                 [&](const ProfileConfig& p) { return p.id == before; });
    profiles.insert(at, std::move(moved));
    emit configChanged();
}

bool UsageStore::isDuplicateProfile(const ProfileConfig& profile) const {
    auto addressOf = [&](const ProfileConfig& p) -> std::optional<std::string> {
        if (p.accountEmail)
            return p.accountEmail;
        if (const auto it = m_emails.find(p.id); it != m_emails.end())
            return it->second;
        return std::nullopt;
    };
    const auto e = addressOf(profile);
    if (!e)
        return false;
    for (const ProfileConfig& p : m_config.profiles) {
        if (p.id == profile.id)
            return false;
        if (addressOf(p) == e)
            return true;
    }
    return false;
}

// The slot goes off the main thread, after any operation that may still read or write it.
QCoro::Task<> UsageStore::removeSlotInTurn(Uuid id) {
    const auto alive = m_alive;
    const auto jobs = m_jobs;
    const Services services = m_deps.services;
    const OperationLane::Turn turn = co_await m_lane.take();
    if (!*alive)
        co_return;
    auto job = jobs->run([services, id] { ProfileSlotStore::remove(services.secrets, id); });
    co_await job;
}

// ---- Setters that announce changes ---------------------------------------------------------

ProfileConfig* UsageStore::findProfile(const Uuid& id) {
    for (ProfileConfig& p : m_config.profiles)
        if (p.id == id)
            return &p;
    return nullptr;
}

UsageStore::StatusLineUse UsageStore::statusLineUse(const ProfileConfig& profile) const {
    StatusLineUse use;
    use.freshFor = std::chrono::seconds(static_cast<long long>(
        std::max(m_config.pollIntervalSec, static_cast<double>(kMinimumPollInterval.count()))));
    if (const auto it = m_statuses.find(profile.id); it != m_statuses.end())
        if (const auto* ok = it->second.okValue())
            use.previous = ok->windows;
    return use;
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
