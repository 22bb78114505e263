#pragma once

#include "base/Services.h"
#include "base/Uuid.h"
#include "claude/CredentialResolver.h"
#include "claude/CustodyLedger.h"
#include "config/AppConfig.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The one keeper of the profiles' slots. A refresh token is spent by its first renewal: a second
// renewal with it is refused and may cost the whole login, and a token that claude holds is
// claude's to renew. So every read-renew-write and every write or removal of a slot goes through
// here, one at a time per slot and under the CustodyLock (which excludes other processes too):
//
// - a renewal holds its slot until the renewed blob is stored; a caller that comes meanwhile
//   waits, reads the slot again and finds the renewed tokens (no second renewal);
// - the renewed blob is stored only while the slot still holds the blob that was renewed, and
//   never into the slot of a removed profile — removed here or, as the ledger names it, by
//   another process;
// - a refresh token that claude's live login holds is never sent, and neither is one that was
//   handed to claude (a switch wrote it live, or it was seen live) until claude has moved on to
//   another account and the grace below has passed: claude may still have it, or may have spent
//   it already. While claude's login file cannot be read nothing is renewed;
// - a refresh token is sent at most once, across restarts and processes: the CustodyLedger names
//   it (by its digest) as sent before the request leaves, and spent or of unknown outcome after;
//   such a token is never sent again. A token claude had, of the account claude is seen on with
//   another one, was renewed by claude: it is named spent too. A slot that holds a spent token is
//   never handed out as it is, whatever its expiry: in this process it gets that renewal (while
//   no one else has it since) or its refusal, else it is refused;
// - renewed tokens whose slot write failed are held here, in memory, and used instead of the slot
//   until a write succeeds;
// - slots of removed profiles, and of enrolments whose profile was never saved, are deleted until
//   they are gone (settlePending()).
//
// Safe to use from several threads at once; blocking (secret store, files, the token endpoint):
// never call it on the main thread. Tokens are compared in memory and never leave it.
class SlotCustodian {
public:
    // `dataDir`: the data folder, where the ledger and the lock live.
    SlotCustodian(Services services, std::filesystem::path dataDir);
    SlotCustodian(const SlotCustodian&) = delete;
    SlotCustodian& operator=(const SlotCustodian&) = delete;

    // What a profile's slot holds: tokens held in memory, else the secret-store item.
    std::optional<std::string> read(const Uuid& id);
    // Whether the profile has a slot (false when ULMET_NO_KEYCHAIN=1 forbids looking).
    bool has(const Uuid& id);

    // Replaces what the slot holds with a login of `account` (none: not known) — a capture, an
    // enrolment. Throws CredentialsError::keychain when the secret store refuses, FileError when
    // the ledger cannot name the slot's new account; nothing is written for a removed profile.
    void store(const Uuid& id, const std::string& blob, const std::optional<std::string>& account);
    // The same for a copy of the live login: when the write fails the blob is held in memory and
    // written at the next chance. False when it is held (or the profile was removed).
    bool storeOrHold(const Uuid& id, const std::string& blob, const std::optional<std::string>& account);
    // Whether the slot may hold a login of `account`: false when the ledger names another (or no
    // known) account as the last one stored there, by any process. A caller whose profile list
    // says otherwise read it before that store: pairing the slot with the profile's identity, or
    // writing another account's login over it, would mix two accounts.
    bool slotIsOf(const Uuid& id, const std::optional<std::string>& account) const;
    // Deletes the slot and what is held of it; the profile's slot is never written again, by any
    // process (the ledger names it removed). When the secret store refuses, the deletion is
    // retried by settlePending().
    void remove(const Uuid& id);
    // An enrolment is about to store a login for `id`, a profile not yet in the configuration:
    // should it never be saved there, settlePending() deletes the slot.
    void enrolling(const Uuid& id);
    // Deletes the slots still to be deleted: removed profiles' and those of enrolments older than
    // kEnrolmentSettles whose profile is not among `profiles`. Forgets enrolments that are.
    void settlePending(const std::vector<ProfileConfig>& profiles);
    static constexpr std::chrono::minutes kEnrolmentSettles{10};
    // How many profiles' renewed tokens are held in memory only (their slot refused them), after
    // one more try to write them.
    std::size_t flushHeld();

    // claude's live login as read by the caller, with its account when known: its refresh token is
    // claude's from now on. Knowing the live account also lets go of every other account's tokens:
    // each stays claude's until its access token has expired and kSwitchedOutGrace more (a claude
    // session started before may still hold it), then it is free. While `blob` is still live, the
    // account's other tokens that claude had are named spent: claude has renewed them (or logged
    // in anew).
    void noteLive(const std::string& blob, const std::optional<std::string>& account);
    // A switch writes `blob` (the account `account`'s login) as claude's: this one is claude's, and
    // every other is let go as above. With `switchingTo`, the ledger also names the switch as under
    // way (cleared by the switch when its identity is written). Throws FileError when that cannot
    // be recorded: the switch must not go ahead.
    void handedToClaude(const std::string& blob, const std::optional<std::string>& account,
                        const std::optional<Uuid>& switchingTo = std::nullopt);
    static constexpr std::chrono::minutes kSwitchedOutGrace{5};

    struct ForUse {
        ResolvedCredentials resolved;
        // The slot holds claude's live login, which only claude renews: `resolved` is the live blob,
        // and its access token may have expired.
        bool claudes = false;
    };
    // A Claude profile's credentials for use (never as the live profile): its own file, its
    // override or its slot, the slot renewed first when it expires within a minute. Throws as
    // CredentialResolver::resolve does, ResolveError::refreshFailed, or ResolveError::claudeRenews
    // when the slot's refresh token was handed to claude and may be spent (or claude's login file
    // cannot be read just now).
    ForUse credentialsFor(const ProfileConfig& profile);

    CustodyLedger& ledger() { return m_ledger; }

private:
    struct Lane {
        std::mutex mutex;
    };
    std::shared_ptr<Lane> laneOf(const Uuid& id);
    std::optional<std::string> heldOf(const Uuid& id);
    bool isRemoved(const Uuid& id);
    // Under the slot's lane.
    std::optional<std::string> currentLocked(const Uuid& id);
    void writeLocked(const Uuid& id, const std::string& blob);       // throws when the store refuses
    bool storeOrHoldLocked(const Uuid& id, const std::string& blob); // false when held instead
    void noteSlotAccount(const Uuid& id, const std::optional<std::string>& account);
    // Under the custody lock and the slot's lane: the held copy written when the secret store
    // takes it again (and dropped when the slot holds another login than the one it replaces).
    void writeHeldLocked(const Uuid& id);
    bool isClaudes(const std::string& refreshToken);
    // Whether slot credentials' refresh token was spent: renewed by this process, or named spent
    // or of unknown outcome in the ledger.
    bool spentBefore(const ResolvedCredentials& resolved);
    // What a refresh token was spent for in this process: its renewed blob (kept for the latest
    // kKeptGrants) or the endpoint's refusal.
    struct Spent {
        std::optional<std::string> renewed;
        std::optional<ResolveError> refusal;
    };
    static constexpr std::size_t kKeptGrants = 64;
    // The renewal of slot credentials, once per refresh token: a token spent before is never sent
    // again, and a slot holding it gets what the first renewal got.
    ResolvedCredentials grant(const ResolvedCredentials& resolved);
    void remember(const std::string& key, Spent spent);

    Services m_services;
    std::filesystem::path m_dataDir;
    CustodyLedger m_ledger;
    std::mutex m_mutex; // guards everything below
    std::map<Uuid, std::shared_ptr<Lane>> m_lanes;
    // Renewed or copied tokens whose slot write failed, with what the slot held then: written only
    // over that (a slot another process wrote since keeps its newer login).
    struct Held {
        std::string blob;
        std::optional<std::string> replaces;
    };
    std::map<Uuid, Held> m_held;
    std::set<Uuid> m_removed;
    std::map<std::string, Spent> m_spent;       // refresh tokens sent by this process
    std::deque<std::string> m_recentGrants;     // whose renewed blobs are kept
    std::map<std::string, Instant> m_notBefore; // rate-limited renewals: not sent again until then
};
