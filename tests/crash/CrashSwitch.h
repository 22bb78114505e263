#pragma once

// What the crash test of a switch and its helper share.

#include "base/DateTime.h"
#include "config/AppConfig.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <string>

namespace crashswitch {

// The helper's clock stands still at this moment: a login is renewed only when it had expired
// before it.
inline Instant now() {
    return DateTime::fromUnixSeconds(1'789'000'000);
}

// A login of the account of `token` ("tok-b~2" is b@x's), its access token valid for `validFor`
// (negative: expired that long ago).
inline std::string login(const std::string& token, std::chrono::seconds validFor) {
    const auto expiresAt =
        std::chrono::duration_cast<std::chrono::milliseconds>((now() + validFor).time_since_epoch()).count();
    return nlohmann::json{
        {"claudeAiOauth", {{"accessToken", token}, {"refreshToken", "r-" + token}, {"expiresAt", expiresAt}}}}
        .dump();
}

inline std::string identity(const std::string& email) {
    return nlohmann::json{{"oauthAccount", {{"emailAddress", email}, {"accountUuid", "u-" + email}}}}.dump();
}

// Profiles a, b and c of the accounts a@x, b@x and c@x, each with its identity.
inline AppConfig config() {
    AppConfig c;
    c.keychainConnected = true;
    for (const char* name : {"a", "b", "c"}) {
        ProfileConfig p;
        p.name = name;
        p.configDir = std::string("~/.claude-") + name;
        p.accountEmail = std::string(name) + "@x";
        p.accountIdentity = identity(*p.accountEmail);
        c.profiles.push_back(p);
    }
    return c;
}

} // namespace crashswitch
