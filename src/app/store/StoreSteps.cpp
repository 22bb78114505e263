#include "store/StoreSteps.h"

#include "claude/ClaudeAppState.h"

#include <algorithm>

namespace StoreSteps {

bool identityOf(const std::optional<std::string>& identity, const std::optional<std::string>& email) {
    return identity && email && ClaudeAppState::identityEmail(*identity) == email;
}

const ProfileConfig* withEmail(const std::vector<ProfileConfig>& profiles,
                               const std::optional<std::string>& email) {
    if (!email)
        return nullptr;
    for (const ProfileConfig& p : profiles)
        if (p.accountEmail == email)
            return &p;
    return nullptr;
}

std::optional<std::string> statusLineAccount(const Services& services,
                                             const std::vector<ProfileConfig>& profiles) {
    const auto readFromStatusLine = [](const ProfileConfig& p) {
        return p.usageSource == UsageSource::statusLine;
    };
    if (std::none_of(profiles.begin(), profiles.end(), readFromStatusLine))
        return std::nullopt; // nothing to spare: the state file is not read
    const auto email = ClaudeAppState::readEmail(services.home);
    const ProfileConfig* owner = withEmail(profiles, email);
    return owner && readFromStatusLine(*owner) ? email : std::nullopt;
}

} // namespace StoreSteps
