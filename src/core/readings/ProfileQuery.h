#pragma once

#include "config/AppConfig.h"

#include <string>
#include <string_view>
#include <vector>

// Finds the profile a person or a script names: by id, by name or by e-mail address.
namespace ProfileQuery {

struct Match {
    enum class Kind { found, unknown, ambiguous };
    Kind kind = Kind::unknown;
    const ProfileConfig* profile = nullptr; // when found
    std::string message;                    // when not: says why, in the store's words
};

// Tried in turn, the first step with any match decides: the id (either letter case); the name as
// written; the e-mail address, then the name, ignoring ASCII letter case. Two matches in one step
// are ambiguous, and the message lists them.
Match find(const std::vector<ProfileConfig>& profiles, std::string_view query);

} // namespace ProfileQuery
