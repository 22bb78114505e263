#pragma once

#include "base/DateTime.h"
#include "base/Errors.h"
#include "base/Uuid.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class Clock;

// What this user's processes know of refresh tokens, of a switch under way and of slots still to
// be deleted, kept across restarts and crashes in "custody.json" in the data folder (0600,
// replaced atomically and flushed to disk). A token is named by its SHA-256 only: the file never
// holds a token. Changes are made under the CustodyLock.
class CustodyLedger {
public:
    enum class State {
        claudes, // claude has it (seen live or handed to it by a switch), or may still have it
        spent,   // sent to the token endpoint, which answered, or renewed by claude: never sent again
        unknown, // sent without a clear answer: it may have been spent, so it is never sent again
    };
    struct Token {
        State state = State::claudes;
        Instant since;                      // when the state was set
        std::optional<std::string> account; // claudes: the account it is a login of, when known
        std::optional<Instant> expiresAt;   // claudes: its access token's expiry
        // claudes after claude moved to another account: still claude's until then (a claude
        // session started before may hold it). None while it is live.
        std::optional<Instant> until;
    };
    // A switch writes claude's login and then its identity: between the two, this names its target
    // and the login it writes, so a switch cut short is completed at the next start.
    struct Switch {
        Uuid target;
        std::string token; // the fingerprint of the refresh token written live
        Instant since;
    };
    // A slot to delete: a removed profile's (retried until it is gone), or an enrolment's until
    // its profile is in the configuration.
    struct Pending {
        Uuid id;
        bool enrolment = false;
        Instant since;
    };
    struct Contents {
        std::map<std::string, Token> tokens; // by fingerprint
        std::optional<Switch> switching;
        std::vector<Pending> pending;
        // Profiles removed (by id, since when): no process writes their slots again, not even one
        // that read its profile list before the removal. Kept for kKeptFor.
        std::map<Uuid, Instant> removed;
        // Whose login each slot holds, as the step that stored it knew it (none: it could not
        // tell). A process whose profile list is older than that store finds out here.
        std::map<Uuid, std::optional<std::string>> slotAccounts;
        bool operator==(const Contents&) const;
    };

    CustodyLedger(std::filesystem::path dataDir, const Clock& clock);

    static std::string fingerprint(std::string_view refreshToken);

    // What the file holds now; empty when it is missing or cannot be read.
    Contents read() const;
    // False when the file is there but cannot be read or parsed: what it knew is not known.
    bool sound() const;
    // "<file> を読めないため、…": what such a file stops.
    Error damaged() const;
    // Reads the file, lets `change` change it and writes it back when it changed, under the
    // CustodyLock. Entries whose state is older than kKeptFor go (a live login of claude's stays).
    // Throws damaged() for a file that cannot be read (it is left as it is) and FileError when
    // the file cannot be written: nothing that depends on it may go ahead.
    void update(const std::function<void(Contents&)>& change);

    const std::filesystem::path& dir() const { return m_dir; }

    static constexpr std::chrono::hours kKeptFor{24 * 31};
    static constexpr const char* kFileName = "custody.json";

private:
    std::optional<Contents> load(bool& unreadable) const;

    std::filesystem::path m_dir;
    const Clock& m_clock;
};
