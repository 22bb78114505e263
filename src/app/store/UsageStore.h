#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

// moc cannot parse the C++20 library headers; it needs none of these.
#ifndef Q_MOC_RUN
#include "base/Clock.h"
#include "base/Services.h"
#include "config/AppConfig.h"
#include "config/ConfigStore.h"
#include "history/HistoryStore.h"
#include "readings/Readings.h"
#include "store/OperationLane.h"
#include "store/ProfileState.h"
#include "store/Sleeper.h"
#include "store/Worker.h"
#include "usage/UsageWindow.h"
#include <QCoro/QCoroTask>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
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
};

class AccountOperations;
class AutoSwitch;
class ConfigKeeper;
class RefreshCycle;
class SlotCustodian;

// The running application's one source of truth: the configuration in memory, what is known of
// every profile (ProfileState), the live claude login as last seen, and the messages for the
// person. Lives on the main thread; its setters announce every change for the views.
//
// The store holds state; the work is done by the four it owns, which change the state through
// its setters: RefreshCycle (polling and the refresh cycle), AccountOperations (connect,
// enrolment, capture, switch and the profile list's edits), AutoSwitch (automatic switching
// and the forecast notice) and ConfigKeeper (config.json: the person's changes to it, a broken
// version of it, the saves). Their blocking steps run on worker threads (the store's JobGroup);
// account operations and the part of a cycle that reads the live login take turns on one lane,
// so they never interleave. Every read, renewal and write of a slot goes through the store's
// SlotCustodian. Destroying the store aborts its HTTP exchanges and waits for its worker jobs;
// coroutines still suspended end at their next step.
class UsageStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QDateTime lastRefreshTime READ lastRefreshTime NOTIFY lastRefreshChanged)
    Q_PROPERTY(QString lastActionMessageText READ lastActionMessageText NOTIFY lastActionMessageChanged)
    Q_PROPERTY(QString pendingEnrollEmailText READ pendingEnrollEmailText NOTIFY pendingEnrollEmailChanged)
    Q_PROPERTY(bool keychainConnected READ keychainConnected NOTIFY configChanged)
    // config.json does not parse or decode: what is wrong and what runs meanwhile (empty when it is
    // fine), and the button that writes the configuration in memory over it (empty when none can).
    Q_PROPERTY(QString configFaultText READ configFaultText NOTIFY configFaultChanged)
    Q_PROPERTY(QString configRestoreText READ configRestoreText NOTIFY configFaultChanged)

public:
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

    // Loads the configuration (and watches config.json from then on), copies known e-mail
    // addresses, seeds the readings from the last 48 hours of history and starts polling.
    explicit UsageStore(StoreDependencies dependencies, QObject* parent = nullptr);
    ~UsageStore() override;

    // ---- State (main thread) ----
    const AppConfig& config() const { return m_config; }
    // Replaces the configuration (the views' edits); call scheduleSave() afterwards.
    void setConfig(const AppConfig& config);
    // Why config.json gives no configuration, while it does not: the store then runs on the backup
    // (or the defaults) in memory and saves nothing until the person corrects the file or restores.
    const std::optional<ConfigStore::Fault>& configFault() const;
    // The banner's choice: writes the configuration in memory over the broken config.json, once
    // that is kept beside it. False when there is no fault or it could not be done (a message says).
    bool restoreConfig();
    // What is known of each profile; a profile not read, looked at or addressed yet has none.
    const std::map<Uuid, ProfileState>& profileStates() const { return m_profiles; }
    const ProfileState* state(const Uuid& id) const;
    const ProfileStatus* status(const Uuid& id) const;
    // When a window of a profile, read at `takenAt`, fills at its recent pace, if before its reset
    // and still ahead of now.
    std::optional<Instant> forecast(const Uuid& id, const UsageWindow& window, Instant takenAt) const;
    std::optional<Instant> lastRefresh() const { return m_lastRefresh; }
    const std::optional<std::string>& lastActionMessage() const { return m_lastActionMessage; }
    // The live login's account as the store knows it: the one its operations act on.
    const std::optional<std::string>& liveEmail() const { return m_liveEmail; }
    const std::optional<std::string>& pendingEnrollEmail() const { return m_pendingEnrollEmail; }
    // The profile the account on offer goes into when enrolled: the first Claude profile without
    // an address or a login (none: a new profile).
    std::optional<Uuid> enrolmentTarget() const;
    std::optional<Instant> backoffUntil() const { return m_backoffUntil; }
    bool isRefreshing() const { return m_isRefreshing; }
    // The store's clock (the views compute time left and elapsed parts with it).
    Instant currentTime() const { return now(); }
    // The user's home directory.
    const std::filesystem::path& homeDirectory() const { return m_deps.services.home; }
    // Every profile's latest reading as scripts are told it (the store's state, no token).
    Readings readings() const;
    // The readings on disk (the history window reads them).
    HistoryStore* historyStore() const { return m_deps.history; }

    // ---- The cycle (RefreshCycle) ----
    // Replaces the polling loop by a new one that refreshes at once.
    void startPolling();
    // One refresh cycle; returns at once when one is already running.
    QCoro::Task<> refreshAll();
    // Saves the configuration 0.8 s after the last call, then restarts polling.
    void scheduleSave();
    // Stores a learned address in a profile that has none, and saves at once.
    void backfillEmail(const Uuid& id, const std::string& email);

    // ---- Menu bar ----
    std::optional<std::pair<ProfileConfig, std::vector<UsageWindow>>> activeProfileWindows() const;
    std::vector<MenuMetric> menuMetrics() const;
    // "→45M", "→3H"
    static std::string remainingBadge(Instant until, Instant now);

    // ---- Account operations (AccountOperations) ----
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
    QDateTime lastRefreshTime() const;
    QString lastActionMessageText() const;
    QString liveEmailText() const;
    QString pendingEnrollEmailText() const;
    bool keychainConnected() const { return m_config.keychainConnected; }
    QString configFaultText() const;
    QString configRestoreText() const;

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
    Q_INVOKABLE void requestRestoreConfig();

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
    void configFaultChanged();

private:
    friend class AccountOperations;
    friend class AutoSwitch;
    friend class ConfigKeeper;
    friend class RefreshCycle;

    Instant now() const { return m_deps.services.clock.now(); }
    // Writes the configuration now (ConfigKeeper::save: not over the person's changes or a broken file).
    void saveNow();
    ProfileConfig* findProfile(const Uuid& id);
    void seedFromHistory();

    // The setters; each announces a change, and only a change.
    void setStatus(const Uuid& id, ProfileStatus status, std::optional<UsageSource> source = std::nullopt);
    void removeStatus(const Uuid& id);
    void setProblem(const Uuid& id, std::optional<std::string> problem);
    void forgetProfile(const Uuid& id);
    void setEmail(const Uuid& id, std::optional<std::string> email);
    void setSlotPresence(const Uuid& id, bool present);
    void setLastActionMessage(std::optional<std::string> message);
    void setLiveEmail(std::optional<std::string> email);
    void setPendingEnroll(std::optional<std::string> email, std::optional<std::string> raw);
    void setBackoffUntil(std::optional<Instant> until);
    void setLastRefresh(std::optional<Instant> when);
    // Keeps a good reading for the forecast (the last kRecentReadings of it).
    void remember(const Uuid& id, Instant at, const std::vector<UsageWindow>& windows);

    StoreDependencies m_deps;
    AppConfig m_config;
    std::map<Uuid, ProfileState> m_profiles;
    std::optional<Instant> m_lastRefresh;
    std::optional<std::string> m_lastActionMessage;
    std::optional<std::string> m_liveEmail;
    std::optional<std::string> m_pendingEnrollEmail;
    std::optional<std::string> m_pendingEnrollRaw;
    std::optional<std::string> m_enrolFailure; // the message of a failed enrolment of the offer
    std::optional<Instant> m_backoffUntil;
    bool m_isRefreshing = false;
    // Counts operations that changed the live login or the active profile: a cycle that saw one
    // happen while it ran leaves the active-profile tracking to the next cycle.
    std::uint64_t m_liveChanges = 0;
    // Shared with the running coroutines: false once the store is gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    // Every slot's keeper; shared with the worker jobs, which may end after the store.
    std::shared_ptr<SlotCustodian> m_slots;
    std::shared_ptr<JobGroup> m_jobs = std::make_shared<JobGroup>();
    OperationLane m_lane;
    std::unique_ptr<RefreshCycle> m_cycle;
    std::unique_ptr<AccountOperations> m_accounts;
    std::unique_ptr<AutoSwitch> m_autoSwitch;
    std::unique_ptr<ConfigKeeper> m_keeper;
};
