#pragma once

#include "TestHttpServer.h"

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// The token endpoint as the provider runs it: each refresh token is good for one renewal; a
// second use is answered 400 {"error":"invalid_grant"}. A renewal of "r-X" or "r-X.N" hands out
// the access token "X.<n>" and the refresh token "r-X.<n>" (n counts renewals), valid for an hour.
// Every refresh token received is recorded.
class TokenEndpoint {
public:
    explicit TokenEndpoint(TestHttpServer& server);

    // claude renewing its own login, in-process: the same one use per refresh token. The new
    // access and refresh tokens, or none when the token was spent (claude is logged out).
    std::optional<std::pair<std::string, std::string>> grantForClaude(const std::string& refresh);
    // Asked at every request: whether claude holds this refresh token now (such a request is a
    // fault of the caller, recorded in `sentWhileClaudes`).
    std::function<bool(const std::string&)> heldByClaude;
    std::vector<std::string> sentWhileClaudes() const;
    // Refresh tokens received after claude had spent them (grantForClaude): the provider may take
    // such a replay for a stolen token and end the whole login.
    std::vector<std::string> sentAfterClaudeSpent() const;
    // Called as each request comes in, before it is answered (on the server's thread): what else
    // happens while a caller waits for this answer.
    std::function<void()> whileAnswering;
    // Whether a refresh token was spent here, by anyone; by claude.
    bool spent(const std::string& refresh) const;
    bool spentByClaude(const std::string& refresh) const;

    std::vector<std::string> received() const;
    // Refresh tokens that came more than once.
    std::vector<std::string> reused() const;

private:
    // Under m_mutex: the new tokens for a refresh token not spent before, which it now is.
    std::optional<std::pair<std::string, std::string>> spend(const std::string& refresh);
    mutable std::mutex m_mutex;
    std::vector<std::string> m_whileClaudes;
    std::vector<std::string> m_afterClaude;
    std::set<std::string> m_spentByClaude;
    std::vector<std::string> m_received;
    std::set<std::string> m_spent;
    int m_count = 0;
};

} // namespace testsupport
