#pragma once

#include "base/Services.h"
#include "base/Uuid.h"
#include "claude/CredentialResolver.h"
#include "config/AppConfig.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
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
// here, one at a time per slot:
//
// - a renewal holds its slot until the renewed blob is stored; a caller that comes meanwhile
//   waits, reads the slot again and finds the renewed tokens (no second renewal);
// - the renewed blob is stored only while the slot still holds the blob that was renewed, and
//   never into the slot of a removed profile;
// - a refresh token that claude's live login holds is never sent, and neither is one that was
//   handed to claude (a switch wrote it live, or it was seen live) until claude has moved on to
//   another account: claude may still have it, or may have spent it already;
// - renewed tokens whose slot write failed are held here, in memory, and used instead of the slot
//   until a write succeeds;
// - a refresh token is sent at most once, whichever slots hold it: a slot that holds a token spent
//   before gets that renewal (or its refusal) instead.
//
// Safe to use from several threads at once; blocking (secret store, files, the token endpoint):
// never call it on the main thread. Tokens are compared in memory and never leave it.
class SlotCustodian {
public:
    explicit SlotCustodian(Services services);
    SlotCustodian(const SlotCustodian&) = delete;
    SlotCustodian& operator=(const SlotCustodian&) = delete;

    // What a profile's slot holds: tokens held in memory, else the secret-store item.
    std::optional<std::string> read(const Uuid& id);
    // Whether the profile has a slot (false when ULMET_NO_KEYCHAIN=1 forbids looking).
    bool has(const Uuid& id);

    // Replaces what the slot holds (a capture, an enrolment). Throws CredentialsError::keychain
    // when the secret store refuses; nothing is written for a removed profile.
    void store(const Uuid& id, const std::string& blob);
    // The same for a copy of the live login: when the write fails the blob is held in memory and
    // written at the next chance. False when it is held (or the profile was removed).
    bool storeOrHold(const Uuid& id, const std::string& blob);
    // Deletes the slot and what is held of it; the profile's slot is never written again.
    void remove(const Uuid& id);

    // claude's live login as read by the caller, with its account when known: its refresh token is
    // claude's from now on. Knowing the live account also lets go of every other account's tokens:
    // each stays claude's until its access token has expired and kSwitchedOutGrace more (a claude
    // session started before may still hold it), then it is free.
    void noteLive(const std::string& blob, const std::optional<std::string>& account);
    // A switch wrote `blob` (the account `account`'s login) as claude's: this one is claude's, and
    // every other is let go as above.
    void handedToClaude(const std::string& blob, const std::optional<std::string>& account);

    struct ForUse {
        ResolvedCredentials resolved;
        // The slot holds claude's live login, which only claude renews: `resolved` is the live blob,
        // and its access token may have expired.
        bool claudes = false;
    };
    // A Claude profile's credentials for use (never as the live profile): its own file, its
    // override or its slot, the slot renewed first when it expires within a minute. Throws as
    // CredentialResolver::resolve does, ResolveError::refreshFailed, or ResolveError::claudeRenews
    // when the slot's refresh token was handed to claude and may be spent.
    ForUse credentialsFor(const ProfileConfig& profile);

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
    std::optional<std::string> liveBlob();
    bool isClaudes(const std::string& refreshToken);
    // What a refresh token was spent for: its renewed blob (kept for the latest kKeptGrants) or
    // the endpoint's refusal; a fingerprint without either was spent long ago.
    struct Spent {
        std::optional<std::string> renewed;
        std::optional<ResolveError> refusal;
    };
    static constexpr std::size_t kKeptGrants = 64;
    // The renewal of slot credentials, once per refresh token: a token spent before is never sent
    // again, and a slot holding it gets what the first renewal got.
    ResolvedCredentials grant(const ResolvedCredentials& resolved);
    void remember(std::uint64_t key, Spent spent);

    Services m_services;
    std::mutex m_mutex; // guards everything below
    std::map<Uuid, std::shared_ptr<Lane>> m_lanes;
    std::map<Uuid, std::string> m_held; // renewed or copied tokens whose slot write failed
    std::set<Uuid> m_removed;
    // A refresh token that claude has, or had until a switch or a login to another account.
    struct ClaudeHeld {
        std::optional<std::string> account; // the account it is a login of, when known
        std::optional<Instant> expiresAt;   // the access token's that came with it
        // Switched out: still claude's until then, since a claude session started before may
        // hold it and renew it when its access token expires. None while it is live.
        std::optional<Instant> until;
    };
    static constexpr std::chrono::minutes kSwitchedOutGrace{5};
    // Under m_mutex: the token is no longer live (until its access token expired, plus the grace).
    void letGoLocked(std::uint64_t key);
    // Under m_mutex: the blob's refresh token is claude's live one.
    void holdLocked(const std::string& blob, const std::optional<std::string>& account);
    std::map<std::uint64_t, ClaudeHeld> m_claudes;               // by fingerprint
    std::map<std::uint64_t, std::shared_ptr<Lane>> m_grantLanes; // one exchange per refresh token
    std::map<std::uint64_t, Spent> m_spent;                      // refresh tokens sent, by fingerprint
    std::deque<std::uint64_t> m_recentGrants;                    // whose renewed blobs are kept
};
