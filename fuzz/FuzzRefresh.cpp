// The token-refresh rewrite. The input is a credential blob and a token answer separated by a
// NUL byte; the answer comes back with status 200. A renewed blob parses, carries the new access
// token and keeps every other member of the blob.
#include "base/Json.h"
#include "claude/CredentialsProvider.h"
#include "usage/AnthropicAPI.h"

#include "FuzzSupport.h"

#include <cstdint>

namespace {

class Canned : public HttpTransport {
public:
    std::string body;
    HttpResponse send(const HttpRequest&) override { return HttpResponse{200, {}, body}; }
};

class Fixed : public Clock {
public:
    Instant now() const override { return DateTime::fromUnixSeconds(1.79e9); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto cut = input.find('\0');
    const std::string_view blob = input.substr(0, cut);
    Canned http;
    http.body = cut == std::string_view::npos ? std::string() : std::string(input.substr(cut + 1));
    Fixed clock;
    std::string renewed;
    try {
        renewed = AnthropicAPI::refreshTokens(http, clock, blob);
    } catch (const APIError&) {
        return 0;
    }
    const OAuthCredentials c = CredentialsProvider::parse(renewed, "renewed"); // must not throw
    const auto answer = Json::parse(http.body);
    FUZZ_CHECK(answer && answer->is_object());
    FUZZ_CHECK(c.accessToken == answer->at("access_token").get<std::string>());
    const auto before = Json::parse(blob);
    const auto after = Json::parse(renewed);
    FUZZ_CHECK(before && after);
    const bool wrapped = before->contains("claudeAiOauth") && before->at("claudeAiOauth").is_object();
    for (const auto& [key, value] : before->items()) {
        if (wrapped && key == "claudeAiOauth")
            continue;
        if (!wrapped && (key == "accessToken" || key == "refreshToken" || key == "expiresAt"))
            continue;
        FUZZ_CHECK(after->contains(key) && after->at(key) == value);
    }
    return 0;
}
