#include "TokenEndpoint.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace testsupport {

TokenEndpoint::TokenEndpoint(TestHttpServer& server) {
    server.on("POST", "/v1/oauth/token", [this](const httplib::Request& req, httplib::Response& res) {
        const auto body = nlohmann::json::parse(req.body, nullptr, false);
        const std::string refresh =
            body.is_object() && body.contains("refresh_token") && body["refresh_token"].is_string()
                ? body["refresh_token"].get<std::string>()
                : "";
        if (whileAnswering)
            whileAnswering();
        const bool claudes = heldByClaude && heldByClaude(refresh);
        const std::lock_guard lock(m_mutex);
        m_received.push_back(refresh);
        if (claudes)
            m_whileClaudes.push_back(refresh);
        if (m_spentByClaude.contains(refresh))
            m_afterClaude.push_back(refresh);
        const auto granted = spend(refresh);
        if (!granted) {
            res.status = 400;
            res.set_content(R"({"error":"invalid_grant"})", "application/json");
            return;
        }
        const auto& [access, next] = *granted;
        res.set_content(
            nlohmann::json{{"access_token", access}, {"refresh_token", next}, {"expires_in", 3600}}.dump(),
            "application/json");
    });
}

std::optional<std::pair<std::string, std::string>> TokenEndpoint::spend(const std::string& refresh) {
    if (refresh.empty() || !m_spent.insert(refresh).second)
        return std::nullopt;
    ++m_count;
    // "r-tok-a~2.3" → "tok-a~2"
    std::string base = refresh.starts_with("r-") ? refresh.substr(2) : refresh;
    base = base.substr(0, base.find('.'));
    const std::string access = base + "." + std::to_string(m_count);
    return std::pair{access, "r-" + access};
}

std::optional<std::pair<std::string, std::string>> TokenEndpoint::grantForClaude(const std::string& refresh) {
    const std::lock_guard lock(m_mutex);
    auto granted = spend(refresh);
    if (granted)
        m_spentByClaude.insert(refresh);
    return granted;
}

std::vector<std::string> TokenEndpoint::sentAfterClaudeSpent() const {
    const std::lock_guard lock(m_mutex);
    return m_afterClaude;
}

bool TokenEndpoint::spentByClaude(const std::string& refresh) const {
    const std::lock_guard lock(m_mutex);
    return m_spentByClaude.contains(refresh);
}

bool TokenEndpoint::spent(const std::string& refresh) const {
    const std::lock_guard lock(m_mutex);
    return m_spent.contains(refresh);
}

std::vector<std::string> TokenEndpoint::sentWhileClaudes() const {
    const std::lock_guard lock(m_mutex);
    return m_whileClaudes;
}

std::vector<std::string> TokenEndpoint::received() const {
    const std::lock_guard lock(m_mutex);
    return m_received;
}

std::vector<std::string> TokenEndpoint::reused() const {
    const std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (const std::string& r : m_received)
        if (!seen.insert(r).second)
            out.push_back(r);
    return out;
}

} // namespace testsupport
