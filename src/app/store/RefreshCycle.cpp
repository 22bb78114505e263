// The polling loop, the refresh cycle and the per-profile fetch.
#include "store/UsageStore.h"

#include "claude/AccountSteps.h"
#include "claude/ActiveCredentialStore.h"
#include "claude/ClaudeAppState.h"
#include "claude/SlotCustodian.h"
#include "config/ConfigStore.h"
#include "readings/ProfileReader.h"
#include "usage/AnthropicAPI.h"

#include <QCoro/QCoroFuture>

#include <algorithm>
#include <set>

namespace {

constexpr double kSeedHours = 48;
constexpr double kMaxSleepSeconds = 365.0 * 24 * 3600; // a poll interval beyond a year waits a year

} // namespace

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
        double interval = m_config.pollInterval();
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
                  std::shared_ptr<SlotCustodian> custodian, ProfileConfig profile,
                  std::optional<OAuthCredentials> liveOverride, bool includeEmail, int staggerIndex,
                  StatusLineUse statusLine) {
    const StoreDependencies deps = dependencies; // the store may be gone before this ends
    if (staggerIndex >= 1)
        co_await deps.sleeper->sleep(kStagger * staggerIndex);
    const Services services = deps.services;
    // GCC 12 destroys a lambda temporary inside a co_await expression twice: name the job.
    const std::filesystem::path baseDir = deps.configDir;
    ProfileReader::Request request;
    request.baseDir = deps.configDir;
    request.includeEmail = includeEmail;
    request.statusLineFreshFor = statusLine.freshFor;
    request.previous = std::move(statusLine.previous);
    // The live profile is read with the live login; any other through the slots' custodian.
    request.token = [custodian, liveOverride](const ProfileConfig& p) -> ProfileReader::Token {
        if (liveOverride)
            return {*liveOverride, false};
        SlotCustodian::ForUse use = custodian->credentialsFor(p);
        return {std::move(use.resolved.credentials), use.claudes};
    };
    auto readProfile = jobs->run([services, profile, request]() -> FetchOutcome {
        ProfileReader::Outcome read = ProfileReader::read(services, profile, request);
        FetchOutcome outcome;
        outcome.id = profile.id;
        outcome.status = std::move(read.status);
        outcome.email = std::move(read.email);
        outcome.rateLimited = read.rateLimited;
        outcome.retryAfter = read.retryAfter;
        outcome.source = read.source;
        return outcome;
    });
    co_return co_await readProfile;
}

namespace {

struct CycleReads {
    std::optional<std::string> liveBlob;
    std::vector<std::pair<Uuid, bool>> presence;
    std::optional<std::string> statusLineAccount; // see AccountSteps::statusLineAccount()
    // Without following the live login: the account claude's state file names (no token read).
    std::optional<std::string> stateAccount;
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
        const auto custodian = m_slots;
        auto readLiveLoginAndSlots = m_jobs->run([services, custodian, profiles, connected, readLive]() {
            CycleReads r;
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
                r.presence.emplace_back(p.id, custodian->has(p.id));
            return r;
        });
        reads = co_await readLiveLoginAndSlots;
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
                auto lookUpLiveAddress = m_jobs->run(
                    [services, token] { return AnthropicAPI::profileEmail(services.http, token); });
                email = co_await lookUpLiveAddress;
                if (!*alive)
                    co_return;
                m_cachedLiveToken = token;
                m_cachedLiveEmail = email;
            }
        }
        setLiveEmail(readLive ? email : reads.stateAccount);
        if (reads.liveBlob) // its refresh token is claude's (in memory only: no wait)
            m_slots->noteLive(*reads.liveBlob, email);

        // 8. The profile that is logged in.
        if (const ProfileConfig* p = AccountSteps::withEmail(profiles, email))
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
        children.push_back(
            [](UsageStore* self, std::shared_ptr<bool> alive, std::shared_ptr<CycleTotals> totals,
               QCoro::Task<FetchOutcome> pending) -> QCoro::Task<> {
                FetchOutcome outcome = co_await pending;
                if (!*alive)
                    co_return;
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
            }(this, alive, totals,
                                                  fetch(m_deps, m_jobs, m_slots, target, override,
                                                        includeEmail, static_cast<int>(i),
                                                        statusLineUse(target))));
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
                    setStatus(p.id,
                              ProfileStatus::error(tr("未接続 — 「接続」で認証してください").toStdString()));
            }

    // 18. The active profile follows the live login; an unknown live account is offered. When an
    //     operation changed the login since step 3, what this cycle read is stale: the next
    //     cycle decides.
    if (m_config.autoReadLiveClaude && liveChanges == m_liveChanges) {
        std::optional<Uuid> matchID;
        if (const ProfileConfig* p = AccountSteps::withEmail(m_config.profiles, email))
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
        m_backoffMessage = tr("レート制限のため約%1秒後に自動再取得します（表示は直前の値）")
                               .arg(static_cast<long long>(wait))
                               .toStdString();
        setLastActionMessage(m_backoffMessage);
    } else {
        setBackoffUntil(std::nullopt);
        if (m_lastActionMessage && m_lastActionMessage == m_backoffMessage)
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
    auto copyLiveLogin = m_jobs->run([services = m_deps.services, custodian = m_slots, id, blob, email] {
        return AccountSteps::storeLiveLogin(services, *custodian, id, blob, email);
    });
    const std::optional<std::string> identity = co_await copyLiveLogin;
    if (!*alive)
        co_return false;
    if (identity)
        learnIdentity({id, *identity});
    co_return true;
}

void UsageStore::learnIdentity(const AccountSteps::Identity& learned) {
    if (ProfileConfig* p = findProfile(learned.profile); p && p->accountIdentity != learned.blob) {
        p->accountIdentity = learned.blob;
        emit configChanged();
    }
}

UsageStore::StatusLineUse UsageStore::statusLineUse(const ProfileConfig& profile) const {
    StatusLineUse use;
    use.freshFor = std::chrono::seconds(static_cast<long long>(m_config.pollInterval()));
    if (const auto it = m_statuses.find(profile.id); it != m_statuses.end())
        if (const auto* ok = it->second.okValue())
            use.previous = ok->windows;
    return use;
}
