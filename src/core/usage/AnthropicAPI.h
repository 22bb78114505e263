#pragma once

#include "base/Clock.h"
#include "base/Errors.h"
#include "net/HttpTransport.h"
#include "usage/UsageWindow.h"

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class APIError : public Error {
public:
    enum class Kind { http, rateLimited, badResponse };

    // 401: "認証エラー (401)。…"; others: "API エラー (HTTP <status>)". The body is kept for
    // callers but is never part of the description.
    static APIError http(int status, std::string body);
    // "レート制限 (429) · 再試行待ち"; `retryAfter` in seconds.
    static APIError rateLimited(std::optional<double> retryAfter);
    // "API レスポンスを解析できませんでした"
    static APIError badResponse();

    Kind kind() const { return m_kind; }
    int status() const { return m_status; }
    const std::string& body() const { return m_body; }
    std::optional<double> retryAfter() const { return m_retryAfter; }

private:
    APIError(Kind kind, const std::string& description)
        : Error(description)
        , m_kind(kind) {}
    Kind m_kind;
    int m_status = 0;
    std::string m_body;
    std::optional<double> m_retryAfter;
};

// Client of the account provider's OAuth endpoints: usage, profile and token renewal.
// Stateless; every call blocks its thread for one HTTP exchange (at most 15 s).
namespace AnthropicAPI {

inline constexpr std::string_view kUsagePath = "/api/oauth/usage";
inline constexpr std::string_view kProfilePath = "/api/oauth/profile";
inline constexpr std::string_view kTokenPath = "/v1/oauth/token";
// claude's own OAuth client: its tokens are issued to it, and a renewal must name it.
inline constexpr std::string_view kClientId = "9d1c250a-e61b-44d9-88ed-5944d1962f5e";
// The scopes claude asks for, when a blob does not list its own.
inline constexpr std::string_view kClaudeScopes =
    "user:profile user:inference user:sessions:claude_code user:mcp_servers user:file_upload";

// GET of the usage API's origin + `path` with the bearer token; any status is returned.
// Throws TransportError.
HttpResponse request(HttpTransport& http, std::string_view path, std::string_view token);

// The account's windows in display order. Throws APIError or TransportError.
std::vector<UsageWindow> usage(HttpTransport& http, std::string_view token);

// The account's e-mail address; none on any failure.
std::optional<std::string> profileEmail(HttpTransport& http, std::string_view token);

// Windows from a usage answer: the "limits" list, else the keyed members, else the keyed
// members one level down; in display order. Throws APIError::badResponse when none is found.
std::vector<UsageWindow> parseUsage(std::string_view body);

// A JSON number (true/false as 1/0), or a text that is wholly a decimal number; none for
// anything else. `value` may be null (absent).
std::optional<double> numeric(const nlohmann::json* value);
// A text wholly holding a decimal floating-point number (no white space, nothing after it).
std::optional<double> numericText(std::string_view text);

// An ISO 8601 internet date-time text (fractional seconds optional, zone "Z" or ±hh:mm), or a
// number of seconds since 1970 (milliseconds when above 1e12). `value` may be null.
std::optional<Instant> parseDate(const nlohmann::json* value);

// The first "email" text in the object or the objects nested in it (arrays are not searched).
std::optional<std::string> findEmail(const nlohmann::json& value);

// Renews the tokens of a credential blob by the refresh-token grant and returns the same blob
// with the new "accessToken", "refreshToken" and "expiresAt" (milliseconds); every other member
// stays. Throws APIError (http 400 "refreshToken がありません" without sending anything) or
// TransportError.
std::string refreshTokens(HttpTransport& http, const Clock& clock, std::string_view raw);

} // namespace AnthropicAPI
