#pragma once

#include <QFileSystemWatcher>

#ifndef Q_MOC_RUN
#include "base/Uuid.h"
#include "claude/CredentialsProvider.h"
#include "config/AppConfig.h"
#include "readings/ProfileReader.h"
#include <QCoro/QCoroTask>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>
#endif

class UsageStore;

// Polling and the refresh cycle of the store: read the live login (on the lane), copy it into its
// profile's slot, read every profile (ProfileReader, 0.5 s apart, on workers), apply each outcome
// as it arrives, follow the live login with the active profile, back off after rate limiting, and
// hand over to automatic switching. While it follows the live login, a change of claude's login
// file starts a cycle within a second (a new login is seen at once, not at the next poll). Main
// thread; owned by the store.
class RefreshCycle {
public:
    explicit RefreshCycle(UsageStore& store);
    static constexpr std::chrono::milliseconds kLoginSettles{300};

    void startPolling();
    QCoro::Task<> refreshAll();
    // The same after an enrolment, a capture or a switch: while a cycle runs, one more follows it.
    QCoro::Task<> refreshAfterChange();
    void scheduleSave();
    // Whether an edit still waits for its delayed save (made at quit).
    bool savePending() const { return m_savePending; }

private:
    // What the live login was at the start of a cycle.
    struct Live {
        bool connected = false;
        std::optional<std::string> blob;
        std::optional<OAuthCredentials> credentials;
        std::optional<std::string> email;
        std::optional<Uuid> profile; // the profile of that account
        std::uint64_t changes = 0;   // the store's count of live changes when it was read
    };
    // Who is read this cycle, in order, and the profiles that share another's address.
    struct Plan {
        std::vector<ProfileConfig> targets;
        std::vector<std::pair<Uuid, Uuid>> duplicates; // duplicate → primary
    };
    struct Totals {
        bool rateLimited = false;
        double maxRetryAfter = 0;
    };

    // Watches claude's login file and its folder (claude replaces the file by a rename, which ends
    // a watch on the file itself: it is set again at every look).
    void watchLogin();
    QCoro::Task<> loginChangedAfterDelay(std::uint64_t generation);

    QCoro::Task<> pollLoop(std::uint64_t generation);
    QCoro::Task<> saveAfterDelay(std::uint64_t generation);
    // The cycle's steps. The first takes a turn on the lane; none means the store went away.
    QCoro::Task<std::optional<Live>> readLive(std::vector<ProfileConfig> profiles);
    QCoro::Task<std::optional<std::string>> liveAddress(std::string accessToken);
    // Notes the live login as claude's and copies it into the live profile's slot (when known).
    QCoro::Task<bool> keepLiveLogin(std::optional<Uuid> id, std::string blob,
                                    std::optional<std::string> email, bool fromStateFile);
    Plan plan(const std::vector<ProfileConfig>& profiles, const Live& live) const;
    QCoro::Task<ProfileReader::Outcome> fetch(ProfileConfig profile, std::optional<OAuthCredentials> live,
                                              int staggerIndex);
    void apply(const Uuid& id, ProfileReader::Outcome outcome, Totals& totals);
    void showDuplicates(const Plan& plan);
    void markUnconnected(const std::vector<ProfileConfig>& profiles);
    void followLiveLogin(const Live& live);
    void backOff(const Totals& totals);

    UsageStore& m_store;
    std::uint64_t m_pollGeneration = 0; // a loop whose generation is not this one ends
    std::uint64_t m_saveGeneration = 0;
    bool m_savePending = false;
    // The live access token whose address was looked up last, and that address.
    std::optional<std::string> m_cachedLiveToken;
    std::optional<std::string> m_cachedLiveEmail;
    std::string m_backoffMessage; // the last message of a back-off, taken back when it ends
    QFileSystemWatcher m_loginWatch;
    std::uint64_t m_loginGeneration = 0;
    std::optional<std::string> m_liveSeen; // the live blob the last cycle read
    bool m_againAfterThis = false;         // the login changed, or a cycle was asked for, during one
    std::set<std::string> m_newAccountsTold;
};
