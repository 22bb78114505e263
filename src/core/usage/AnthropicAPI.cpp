#include "usage/AnthropicAPI.h"

#include "base/Json.h"
#include "base/Language.h"
#include "base/Text.h"
#include "net/Origins.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

using nlohmann::json;

APIError APIError::http(int status, std::string body) {
    APIError e(Kind::http, status == 401
                               ? TR("認証エラー (401)。このログインはもう使えません。このアカウントで claude "
                                    "にログインし直し、「現在のログインをここに取り込む」を実行してください")
                               : Text::fill(TR("API エラー (HTTP %1)"), {std::to_string(status)}));
    e.m_status = status;
    e.m_body = std::move(body);
    return e;
}

APIError APIError::rateLimited(std::optional<double> retryAfter) {
    APIError e(Kind::rateLimited, TR("レート制限 (429) · 再試行待ち"));
    e.m_status = 429;
    e.m_retryAfter = retryAfter;
    return e;
}

APIError APIError::badResponse() {
    return APIError(Kind::badResponse, TR("API レスポンスを解析できませんでした"));
}

namespace AnthropicAPI {
namespace {

constexpr std::string_view kUserAgent = "ulmet/0.1";
constexpr std::string_view kBeta = "oauth-2025-04-20";

std::string utf8OrEmpty(std::string body) {
    return Text::isValidUtf8(body) ? body : std::string();
}

double clampPercent(double v) {
    return std::clamp(v, 0.0, 100.0);
}

// A percentage worth showing: present and finite ("nan" and "inf" texts read as numbers).
std::optional<double> percentOf(const json* value) {
    const auto v = numeric(value);
    if (!v || !std::isfinite(*v))
        return std::nullopt;
    return clampPercent(*v);
}

const json* member(const json& object, const char* key) {
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::vector<UsageWindow> extractLimits(const json& object) {
    std::vector<UsageWindow> windows;
    const json* limits = member(object, "limits");
    if (!limits || !limits->is_array())
        return windows;
    for (const json& element : *limits)
        if (!element.is_object())
            return windows;
    for (const json& element : *limits) {
        const auto percent = percentOf(member(element, "percent"));
        if (!percent)
            continue;
        const json* kindValue = member(element, "kind");
        const std::string kind =
            kindValue && kindValue->is_string() ? kindValue->get<std::string>() : "unknown";
        std::string key;
        if (kind == "session") {
            key = "five_hour";
        } else if (kind == "weekly_all") {
            key = "seven_day";
        } else if (kind == "weekly_scoped") {
            std::string model = "model";
            const json* scope = member(element, "scope");
            const json* m = scope && scope->is_object() ? member(*scope, "model") : nullptr;
            const json* name = m && m->is_object() ? member(*m, "display_name") : nullptr;
            if (name && name->is_string())
                model = name->get<std::string>();
            key = "seven_day_scoped:" + model;
        } else {
            key = kind;
        }
        windows.push_back(
            UsageWindow{std::move(key), *percent, parseDate(member(element, "resets_at")), std::nullopt});
    }
    return windows;
}

std::vector<UsageWindow> extractWindows(const json& object) {
    std::vector<UsageWindow> windows;
    for (const auto& [key, value] : object.items()) {
        if (!value.is_object())
            continue;
        const auto percent = percentOf(member(value, "utilization"));
        if (!percent)
            continue;
        windows.push_back(UsageWindow{key, *percent, parseDate(member(value, "resets_at")), std::nullopt});
    }
    return windows;
}

} // namespace

HttpResponse request(HttpTransport& http, std::string_view path, std::string_view token) {
    HttpRequest req;
    req.method = "GET";
    req.url = Origins::api() + std::string(path);
    req.headers.add("Authorization", "Bearer " + std::string(token));
    req.headers.add("anthropic-beta", std::string(kBeta));
    req.headers.add("Accept", "application/json");
    req.headers.add("User-Agent", std::string(kUserAgent));
    req.timeout = std::chrono::seconds(15);
    return http.send(req);
}

namespace {

// A Retry-After in seconds (its date form is not sent by the provider).
std::optional<double> retryAfterOf(const HttpResponse& response) {
    if (const std::string* value = response.headers.find("retry-after"))
        if (auto seconds = numericText(*value); seconds && std::isfinite(*seconds))
            return seconds;
    return std::nullopt;
}

} // namespace

std::vector<UsageWindow> usage(HttpTransport& http, std::string_view token) {
    HttpResponse response = request(http, kUsagePath, token);
    if (response.status == 429)
        throw APIError::rateLimited(retryAfterOf(response));
    if (response.status == 200)
        return parseUsage(response.body);
    throw APIError::http(response.status, utf8OrEmpty(std::move(response.body)));
}

std::optional<std::string> profileEmail(HttpTransport& http, std::string_view token) {
    try {
        const HttpResponse response = request(http, kProfilePath, token);
        if (response.status != 200)
            return std::nullopt;
        const auto top = Json::parse(response.body);
        if (!top || !top->is_object())
            return std::nullopt;
        if (const json* account = member(*top, "account"); account && account->is_object())
            if (const json* email = member(*account, "email"); email && email->is_string())
                return email->get<std::string>();
        return findEmail(*top);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::vector<UsageWindow> parseUsage(std::string_view body) {
    const auto top = Json::parse(body);
    if (!top || !top->is_object())
        throw APIError::badResponse();
    std::vector<UsageWindow> windows = extractLimits(*top);
    if (windows.empty())
        windows = extractWindows(*top);
    if (windows.empty()) {
        for (const auto& [key, value] : top->items()) {
            if (!value.is_object())
                continue;
            auto nested = extractWindows(value);
            windows.insert(windows.end(), std::make_move_iterator(nested.begin()),
                           std::make_move_iterator(nested.end()));
        }
    }
    if (windows.empty())
        throw APIError::badResponse();
    sortForDisplay(windows);
    return windows;
}

std::optional<double> numericText(std::string_view text) {
    if (text.starts_with('+') && text.size() > 1 && text[1] != '-' && text[1] != '+')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> numeric(const json* value) {
    if (!value)
        return std::nullopt;
    if (value->is_boolean())
        return value->get<bool>() ? 1.0 : 0.0;
    if (value->is_number())
        return value->get<double>();
    if (value->is_string())
        return numericText(value->get_ref<const std::string&>());
    return std::nullopt;
}

std::optional<Instant> parseDate(const json* value) {
    if (value && value->is_string())
        if (auto t = DateTime::parseIso8601(value->get_ref<const std::string&>()))
            return t;
    const auto n = numeric(value);
    if (!n || !std::isfinite(*n))
        return std::nullopt;
    return DateTime::fromUnixSeconds(*n > 1e12 ? *n / 1000 : *n);
}

std::optional<std::string> findEmail(const json& value) {
    if (!value.is_object())
        return std::nullopt;
    if (const json* email = member(value, "email"); email && email->is_string())
        return email->get<std::string>();
    for (const auto& [key, nested] : value.items())
        if (auto found = findEmail(nested))
            return found;
    return std::nullopt;
}

namespace {

// A login's scopes as one space-separated text: its "scopes" list of texts, else claude's own.
std::string scopesOf(const nlohmann::ordered_json& tokens) {
    std::string text;
    if (const auto it = tokens.find("scopes"); it != tokens.end() && it->is_array())
        for (const auto& scope : *it)
            if (scope.is_string() && !scope.get_ref<const std::string&>().empty() &&
                scope.get_ref<const std::string&>().find(' ') == std::string::npos)
                text += (text.empty() ? "" : " ") + scope.get<std::string>();
    return text.empty() ? std::string(kClaudeScopes) : text;
}

// The token endpoint's "scope" (a space-separated text) as a list; none when it names none.
std::optional<nlohmann::ordered_json> scopeList(const json* scope) {
    if (!scope || !scope->is_string())
        return std::nullopt;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    std::string_view rest = scope->get_ref<const std::string&>();
    while (!rest.empty()) {
        const auto space = rest.find(' ');
        if (const auto word = rest.substr(0, space); !word.empty())
            list.push_back(std::string(word));
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    }
    return list.empty() ? std::nullopt : std::optional(std::move(list));
}

} // namespace

std::string refreshTokens(HttpTransport& http, const Clock& clock, std::string_view raw) {
    using ordered = nlohmann::ordered_json;
    auto root = Json::parseOrdered(raw);
    if (!root || !root->is_object())
        throw APIError::badResponse();
    const auto wrapped = root->find("claudeAiOauth");
    const bool isWrapped = wrapped != root->end() && wrapped->is_object();
    ordered tokens = isWrapped ? *wrapped : *root;

    const auto refresh = tokens.find("refreshToken");
    if (refresh == tokens.end() || !refresh->is_string() || refresh->get_ref<const std::string&>().empty())
        throw APIError::http(400, "refreshToken がありません");

    // The request claude makes: its client, and the scopes the login holds.
    ordered body = ordered::object();
    body["grant_type"] = "refresh_token";
    body["refresh_token"] = refresh->get<std::string>();
    body["client_id"] = kClientId;
    body["scope"] = scopesOf(tokens);

    HttpRequest req;
    req.method = "POST";
    req.url = Origins::console() + std::string(kTokenPath);
    req.headers.add("Content-Type", "application/json");
    req.headers.add("Accept", "application/json");
    req.headers.add("User-Agent", std::string(kUserAgent));
    req.body = body.dump();
    req.timeout = std::chrono::seconds(15);
    req.abortable = false; // its answer holds the only copy of the new tokens
    HttpResponse response = http.send(req);

    if (response.status == 429)
        throw APIError::rateLimited(retryAfterOf(response));
    if (response.status != 200)
        throw APIError::http(response.status, utf8OrEmpty(std::move(response.body)));
    const auto answer = Json::parse(response.body);
    if (!answer || !answer->is_object())
        throw APIError::badResponse();
    const json* access = member(*answer, "access_token");
    if (!access || !access->is_string() || access->get_ref<const std::string&>().empty())
        throw APIError::badResponse();

    tokens["accessToken"] = access->get<std::string>();
    if (const json* next = member(*answer, "refresh_token");
        next && next->is_string() && !next->get_ref<const std::string&>().empty())
        tokens["refreshToken"] = next->get<std::string>();
    // The scopes granted now, kept as claude keeps them: a list.
    if (auto granted = scopeList(member(*answer, "scope")))
        tokens["scopes"] = std::move(*granted);
    if (const auto lifetime = numeric(member(*answer, "expires_in")); lifetime && std::isfinite(*lifetime)) {
        const double ms = std::trunc((DateTime::toUnixSeconds(clock.now()) + *lifetime) * 1000);
        // Outside the range of a 64-bit integer the lifetime is treated as absent.
        if (ms > -9.2e18 && ms < 9.2e18)
            tokens["expiresAt"] = static_cast<std::int64_t>(ms);
    }

    if (isWrapped) {
        (*root)["claudeAiOauth"] = std::move(tokens);
        return root->dump();
    }
    return tokens.dump();
}

} // namespace AnthropicAPI
