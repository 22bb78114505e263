#pragma once

#include "base/Services.h"
#include "config/AppConfig.h"

#include <optional>
#include <string>
#include <vector>

// Small steps that the store's refresh cycle and account operations share. Main thread unless
// said otherwise.
namespace StoreSteps {

// Whether an identity blob read from ~/.claude.json belongs to the account with this address.
bool identityOf(const std::optional<std::string>& identity, const std::optional<std::string>& email);

// The first profile whose address is exactly `email`; none for no address.
const ProfileConfig* withEmail(const std::vector<ProfileConfig>& profiles,
                               const std::optional<std::string>& email);

// The live login's account as claude's state file names it, when that is a status-line profile's:
// its token is not to travel, not even to learn its address. Off the main thread.
std::optional<std::string> statusLineAccount(const Services& services,
                                             const std::vector<ProfileConfig>& profiles);

} // namespace StoreSteps
