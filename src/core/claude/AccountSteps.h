#pragma once

#include "base/Language.h"
#include "base/Services.h"
#include "base/Text.h"
#include "base/Uuid.h"
#include "config/AppConfig.h"

#include <optional>
#include <string>
#include <vector>

class SlotCustodian;

// What a person asks of claude's logins — switch, capture, enrolment — as plain blocking steps
// over the outside world and the slots' custodian. Each returns one result, which the caller
// applies to its configuration: the steps never write config.json. Off the main thread, one
// operation at a time (the running store's lane; the command line alone).
namespace AccountSteps {

// Whether an identity blob read from ~/.claude.json belongs to the account with this address.
bool identityOf(const std::optional<std::string>& identity, const std::optional<std::string>& email);

// The first profile whose address is exactly `email`; none for no address.
const ProfileConfig* withEmail(const std::vector<ProfileConfig>& profiles,
                               const std::optional<std::string>& email);

// The live login's account as claude's state file names it, when that is a status-line profile's:
// its token is not to travel, not even to learn its address.
std::optional<std::string> statusLineAccount(const Services& services,
                                             const std::vector<ProfileConfig>& profiles);

// ~/.claude.json's identity, learned for the profile of its account.
struct Identity {
    Uuid profile;
    std::string blob;
};

// Copies claude's live login (`blob`, the account `email`'s) into the profile's slot, held in
// memory when the secret store refuses it, and returns ~/.claude.json's identity when it is that
// account's (claude may not have rewritten the file yet). Only while the live login is still
// `blob`, no switch is unfinished and, when `email` was read from claude's state file, that file
// still names it: otherwise nothing is stored (the next look tries again).
std::optional<std::string> storeLiveLogin(const Services& services, SlotCustodian& custodian, const Uuid& id,
                                          const std::string& blob, const std::optional<std::string>& email,
                                          bool emailFromStateFile);

// Completes a switch cut short between claude's login and its identity (a crash, a kill): when
// the live login is still the one the switch wrote, its target's identity is written. True when
// it did. Call it before reading the live login at a start.
bool repair(const Services& services, SlotCustodian& custodian, const std::vector<ProfileConfig>& profiles);

struct Switch {
    bool switched = false;
    // The live login was or may have been written: what the caller read of it before is stale.
    bool liveChanged = false;
    std::optional<Identity> outgoingIdentity; // of the account that was live before
    std::string message;                      // the person's text, for either outcome
};
// Makes the target's login claude's: the outgoing login goes into the slot of the profile whose
// account it is (the switch stops when that slot refuses it); the login in the target's slot
// (renewed when it is about to expire) becomes the live credential, its captured identity the
// live identity. A target whose login is its own file or secret-store item is refused. Every
// network step comes first; when claude's login changed meanwhile the switch begins again with
// the new one. The switch is named in the ledger while claude's two files disagree, and when the
// identity cannot be written the previous live credential is put back: one account's token beside
// another's identity is worse than no switch. Under the CustodyLock throughout.
Switch switchTo(const Services& services, SlotCustodian& custodian,
                const std::vector<ProfileConfig>& profiles, const ProfileConfig& target);

struct Capture {
    bool captured = false;
    std::optional<std::string> email;    // the live account's address, when the endpoint told it
                                         // (also when it was not the account expected)
    std::optional<std::string> identity; // only one of that account; none without an address
    std::string message;
};
// Stores claude's live login in the profile's slot and learns its account. With `expected` (the
// account the person saw logged in when asking), no login the endpoint names as another account's:
// claude may have moved to another meanwhile, whose login would go over a slot not meant for it.
Capture capture(const Services& services, SlotCustodian& custodian, const ProfileConfig& profile,
                const std::optional<std::string>& expected = std::nullopt);

struct Enrolment {
    bool enrolled = false;
    std::optional<Uuid> reused;          // the placeholder that takes the account; none: `newProfile`
    std::optional<std::string> identity; // ~/.claude.json's, when it is the account's
    std::string message;
};
// Stores a newly seen live login (`blob`, of the account `email`) in the slot of the first of
// `placeholders` (Claude profiles without an address) that has no slot, or else in the slot of
// `newProfile`, a profile the caller adds when this succeeds.
Enrolment enrol(const Services& services, SlotCustodian& custodian,
                const std::vector<ProfileConfig>& placeholders, const Uuid& newProfile,
                const std::string& blob, const std::string& email);

// The message of a switch that was made (inline: the bus client, which has none of the steps,
// says it too).
inline std::string switchedMessage(const std::string& profileName) {
    return Text::fill(TR("「%1」に切替えました。開いている claude は一度終了し、新しく起動し直してください"),
                      {profileName});
}

} // namespace AccountSteps
