#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVariantMap>

// moc cannot parse the C++20 library headers; it needs none of these.
#ifndef Q_MOC_RUN
#include "base/Clock.h"
#include "base/Services.h"
#include "claude/AccountSteps.h"
#include "claude/CredentialsProvider.h"
#include "config/AppConfig.h"
#include "history/HistoryStore.h"
#include "readings/Readings.h"
#include "store/OperationLane.h"
#include "store/Sleeper.h"
#include "store/Worker.h"
#include "usage/UsageForecast.h"
#include "usage/UsageWindow.h"
#include <QCoro/QCoroTask>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>
#endif

// What the store needs of the outside world; main() passes the real parts, tests fakes.
struct StoreDependencies {
    Services services;               // HTTP, secret store, clock, home directory
    std::filesystem::path configDir; // where config.json lives
    HistoryStore* history = nullptr; // the readings on disk
    Sleeper* sleeper = nullptr;      // every wait of the store
    std::function<void(const QString& title, const QString& body)> notify; // a desktop notification
    // A store for one account operation of the command line: no readings seeded, no polling.
    bool oneOperation = false;
};

// The running application's one source of truth: the configuration in memory, every profile's
// latest reading, the live claude login as last seen, and the operations on accounts. Lives on
// the main thread; blocking work (secret store, files, HTTP, Codex logs) runs on worker threads
// and its results are applied here. Properties announce every change for the views.
//
// Account operations (switch, capture, enrolment, automatic switching) and the part of a refresh
// cycle that reads the live login take turns on one lane: they never interleave, and each works on
// the state the previous one left. Every read, renewal and write of a profile's slot goes through
// the store's SlotCustodian, whichever family of operations asks.
//
// The member functions live in one file per family: UsageStore.cpp (state, menu bar, the views'
// forms), RefreshCycle.cpp (polling, the cycle, the fetch), AccountOperations.cpp, AutoSwitch.cpp
// (automatic switching and the forecast notice). Destroying the store aborts its HTTP
// exchanges and waits for its worker jobs; coroutines still suspended end at their next step.
class SlotCustodian;

class UsageStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantMap statusesMap READ statusesMap NOTIFY statusesChanged)
    Q_PROPERTY(QVariantMap emailsMap READ emailsMap NOTIFY emailsChanged)
    Q_PROPERTY(QVariantMap slotPresenceMap READ slotPresenceMap NOTIFY slotPresenceChanged)
    Q_PROPERTY(QDateTime lastRefreshTime READ lastRefreshTime NOTIFY lastRefreshChanged)
    Q_PROPERTY(QString lastActionMessageText READ lastActionMessageText NOTIFY lastActionMessageChanged)
    Q_PROPERTY(QString liveEmailText READ liveEmailText NOTIFY liveEmailChanged)
    Q_PROPERTY(QString pendingEnrollEmailText READ pendingEnrollEmailText NOTIFY pendingEnrollEmailChanged)
    Q_PROPERTY(QDateTime backoffUntilTime READ backoffUntilTime NOTIFY backoffUntilChanged)
    Q_PROPERTY(bool keychainConnected READ keychainConnected NOTIFY configChanged)

public:
    // The result of fetching one profile.
    struct FetchOutcome {
        Uuid id;
        ProfileStatus status = ProfileStatus::error("");
        std::optional<std::string> email;
        bool rateLimited = false;
        std::optional<double> retryAfter;      // seconds
        UsageSource source = UsageSource::api; // where the reading came from
    };

    // How a Claude profile read from its endpoint may use its status-line reading instead: when
    // that is younger than `freshFor`, merged into the `previous` windows.
    struct StatusLineUse {
        std::chrono::seconds freshFor{0};
        std::vector<UsageWindow> previous;
    };

    // How a switch ended: whether the target's login is now live, and the store's message.
    struct SwitchOutcome {
        bool switched = false;
        std::string message;
    };

    // One menu-bar glyph's data.
    struct MenuMetric {
        std::string id; // "session" or "week"
        MenuBarStyle style;
        double util; // percent, unclamped
        std::optional<double> elapsed;
        Rgb tint;
        std::optional<std::string> remaining;
    };

    static constexpr std::chrono::seconds kMaximumBackoff{300};
    static constexpr std::chrono::milliseconds kSaveDelay{800};
    static constexpr std::chrono::milliseconds kStagger{500};
    static constexpr std::chrono::seconds kAutoSwitchCooldown{300};
    static constexpr std::chrono::minutes kForecastWarning{30};
    static constexpr std::chrono::hours kRecentReadings{2};

    // Loads the configuration, copies known e-mail addresses, seeds the readings from the last 48
    // hours of history and starts polling.
    explicit UsageStore(StoreDependencies dependencies, QObject* parent = nullptr);
    ~UsageStore() override;

    // ---- State (main thread) ----
    const AppConfig& config() const { return m_config; }
    // Replaces the configuration (the views' edits); call scheduleSave() afterwards.
    void setConfig(const AppConfig& config);
    const std::map<Uuid, ProfileStatus>& statuses() const { return m_statuses; }
    // Where each profile's latest reading came from (absent: not read this run).
    const std::map<Uuid, UsageSource>& sources() const { return m_sources; }
    // "14:32" on the day of `now`, "12/9 14:32" on another (local time).
    static QString clockText(Instant t, Instant now);
    // When a window of a profile, read at `takenAt`, fills at its recent pace, if before its reset
    // and still ahead of now.
    std::optional<Instant> forecast(const Uuid& id, const UsageWindow& window, Instant takenAt) const;
    const std::map<Uuid, std::string>& emails() const { return m_emails; }
    const std::map<Uuid, bool>& slotPresence() const { return m_slotPresence; }
    std::optional<Instant> lastRefresh() const { return m_lastRefresh; }
    const std::optional<std::string>& lastActionMessage() const { return m_lastActionMessage; }
    const std::optional<std::string>& liveEmail() const { return m_liveEmail; }
    const std::optional<std::string>& pendingEnrollEmail() const { return m_pendingEnrollEmail; }
    std::optional<Instant> backoffUntil() const { return m_backoffUntil; }
    bool isRefreshing() const { return m_isRefreshing; }
    // The store's clock (the views compute time left and elapsed parts with it).
    Instant currentTime() const { return now(); }
    // The user's home directory (the views read ~/.claude.json off the main thread).
    const std::filesystem::path& homeDirectory() const { return m_deps.services.home; }
    // Every profile's latest reading as scripts are told it (the store's state, no token).
    Readings readings() const;
    // The readings on disk (the history window reads them).
    HistoryStore* historyStore() const { return m_deps.history; }

    // ---- The cycle ----
    // Replaces the polling loop by a new one that refreshes at once.
    void startPolling();
    // One refresh cycle; returns at once when one is already running.
    QCoro::Task<> refreshAll();
    // Saves the configuration 0.8 s after the last call, then restarts polling.
    void scheduleSave();
    // One profile's reading. Never fails: errors end as the outcome's error status.
    static QCoro::Task<FetchOutcome> fetch(const StoreDependencies& dependencies,
                                           std::shared_ptr<JobGroup> jobs,
                                           std::shared_ptr<SlotCustodian> custodian, ProfileConfig profile,
                                           std::optional<OAuthCredentials> liveOverride, bool includeEmail,
                                           int staggerIndex, StatusLineUse statusLine);
    // Stores a learned address in a profile that has none, and saves at once.
    void backfillEmail(const Uuid& id, const std::string& email);
    void seedFromHistory();
    QCoro::Task<> evaluateAutoSwitch();

    // ---- Menu bar ----
    std::optional<std::pair<ProfileConfig, std::vector<UsageWindow>>> activeProfileWindows() const;
    std::vector<MenuMetric> menuMetrics() const;
    // "→45M", "→3H"
    static std::string remainingBadge(Instant until, Instant now);

    // ---- Account operations ----
    QCoro::Task<> connectKeychain();
    void disconnectKeychain();
    QCoro::Task<> enrollDetectedAccount();
    QCoro::Task<> captureActive(ProfileConfig profile);
    // Makes the target's login the live one and refreshes.
    QCoro::Task<> switchTo(ProfileConfig target);
    // The switch alone, on its turn of the lane; the caller refreshes when it likes.
    QCoro::Task<SwitchOutcome> switchProfile(ProfileConfig target);
    void addProfile(Provider provider);
    void removeProfile(const Uuid& id);
    void moveProfile(const Uuid& id, int by);
    void moveProfile(const Uuid& id, const Uuid& before);
    bool isDuplicateProfile(const ProfileConfig& profile) const;

    // ---- For the views ----
    QVariantMap statusesMap() const;
    QVariantMap emailsMap() const;
    QVariantMap slotPresenceMap() const;
    QDateTime lastRefreshTime() const;
    QString lastActionMessageText() const;
    QString liveEmailText() const;
    QString pendingEnrollEmailText() const;
    QDateTime backoffUntilTime() const;
    bool keychainConnected() const { return m_config.keychainConnected; }

    // ---- Actions of the views (return at once; results arrive through the properties) ----
    Q_INVOKABLE void requestRefresh();
    Q_INVOKABLE void requestConnectKeychain();
    Q_INVOKABLE void requestEnroll();
    Q_INVOKABLE void requestSwitch(const QString& profileId);
    Q_INVOKABLE void requestCapture(const QString& profileId);
    Q_INVOKABLE void moveProfileBy(const QString& profileId, int by);
    Q_INVOKABLE void moveProfileBefore(const QString& profileId, const QString& beforeId);
    // The drop of a dragged row: writes the configuration as it now is.
    Q_INVOKABLE void saveNowForDrop();

signals:
    void configChanged();
    void statusesChanged();
    void emailsChanged();
    void slotPresenceChanged();
    void lastRefreshChanged();
    void lastActionMessageChanged();
    void liveEmailChanged();
    void pendingEnrollEmailChanged();
    void backoffUntilChanged();

private:
    QCoro::Task<> pollLoop(std::uint64_t generation);
    QCoro::Task<> saveAfterDelay(std::uint64_t generation);
    void saveNow();
    // The user changed the configuration: from now on it may be written even over a file that
    // could not be read at start.
    void userEdited() { m_configFileLeftAlone = false; }
    // switchTo's steps, on a turn of the lane taken by the caller. True when the switch was made.
    QCoro::Task<bool> switchSteps(ProfileConfig target);
    // Copies the live login into a profile's slot (held in memory when the write fails) and
    // stores the identity of ~/.claude.json in it when that identity is the account `email`'s.
    // False when the store went away meanwhile.
    QCoro::Task<bool> storeLiveLogin(Uuid id, std::string blob, std::optional<std::string> email);
    // Stores an identity read from ~/.claude.json in the profile of its account.
    void learnIdentity(const AccountSteps::Identity& learned);
    Instant now() const { return m_deps.services.clock.now(); }

    void setStatus(const Uuid& id, ProfileStatus status);
    StatusLineUse statusLineUse(const ProfileConfig& profile) const;
    void remember(const Uuid& id, Instant at, const std::vector<UsageWindow>& windows);
    // Tells once per window when the active session window will fill within kForecastWarning.
    void notifyForecast();
    void removeStatus(const Uuid& id);
    void setEmail(const Uuid& id, std::optional<std::string> email);
    void setSlotPresence(const Uuid& id, bool present);
    void setLastActionMessage(std::optional<std::string> message);
    void setLiveEmail(std::optional<std::string> email);
    void setPendingEnroll(std::optional<std::string> email, std::optional<std::string> raw);
    void setBackoffUntil(std::optional<Instant> until);
    void setLastRefresh(std::optional<Instant> when);
    ProfileConfig* findProfile(const Uuid& id);

    StoreDependencies m_deps;
    AppConfig m_config;
    std::map<Uuid, ProfileStatus> m_statuses;
    std::map<Uuid, UsageSource> m_sources;
    // The last two hours of readings per profile and window key, for the forecast.
    std::map<Uuid, std::map<std::string, std::deque<UsageForecast::Reading>>> m_recent;
    std::set<std::pair<Uuid, Instant>> m_forecastNotified; // (profile, reset) already told
    std::map<Uuid, std::string> m_emails;
    std::map<Uuid, bool> m_slotPresence;
    std::optional<Instant> m_lastRefresh;
    std::optional<std::string> m_lastActionMessage;
    std::string m_backoffMessage; // the last message of a back-off, taken back when it ends
    std::optional<std::string> m_liveEmail;
    std::optional<std::string> m_pendingEnrollEmail;
    std::optional<std::string> m_pendingEnrollRaw;
    std::optional<Instant> m_backoffUntil;
    std::uint64_t m_pollGeneration = 0; // a loop whose generation is not this one ends
    std::uint64_t m_saveGeneration = 0;
    bool m_isRefreshing = false;
    std::optional<Instant> m_lastAutoSwitchAt;
    std::optional<std::string> m_cachedLiveToken;
    std::optional<std::string> m_cachedLiveEmail;
    // Counts operations that changed the live login or the active profile: a cycle that saw one
    // happen while it ran leaves the active-profile tracking to the next cycle.
    std::uint64_t m_liveChanges = 0;
    // config.json exists but could not be read or set aside: it is not written over until the
    // user changes the configuration.
    bool m_configFileLeftAlone = false;
    // Shared with the running coroutines: false once the store is gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    // Every slot's keeper; shared with the worker jobs, which may end after the store.
    std::shared_ptr<SlotCustodian> m_slots;
    std::shared_ptr<JobGroup> m_jobs = std::make_shared<JobGroup>();
    OperationLane m_lane;
};
