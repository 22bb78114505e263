#pragma once

// The two versions the crash writer alternates between, and what the test accepts.

#include "config/AppConfig.h"

#include <string>

namespace crashcontents {

inline AppConfig config(int version) {
    AppConfig c;
    ProfileConfig p;
    p.id = *Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    p.name = version ? "version-one" : "version-zero";
    p.accountEmail =
        std::string(2000, static_cast<char>('a' + version)) + "@example.com"; // a file of some size
    c.profiles = {p};
    c.pollIntervalSec = version ? 61 : 60;
    return c;
}

inline std::string credential(int version) {
    return std::string(R"({"claudeAiOauth":{"accessToken":"tok-)") + std::to_string(version) +
           R"(","expiresAt":4102444800000,"pad":")" + std::string(4000, 'x') + R"("}})";
}

inline std::string identity(int version) {
    return std::string(R"({"oauthAccount":{"emailAddress":"v)") + std::to_string(version) +
           R"(@example.com"},"userID":"v)" + std::to_string(version) + "\"}";
}

} // namespace crashcontents
