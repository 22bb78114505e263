#pragma once

#include "base/DateTime.h"
#include "base/Errors.h"
#include "base/PlatformWords.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class SecretStore;

// What a credential blob grants: the bearer token and when it expires.
struct OAuthCredentials {
    std::string accessToken; // never empty; never printed or logged
    std::optional<Instant> expiresAt;
    // The grant that renews the access token, when the blob has one; compared, never shown.
    std::optional<std::string> refreshToken;
    std::string sourceDescription; // where the blob came from, in words ("file: /…", "ulmet slot", …)
};

class CredentialsError : public Error {
public:
    enum class Kind { notFound, parse, keychain };

    // "認証情報が見つかりません（detail）"
    static CredentialsError notFound(const std::string& detail);
    // "認証情報を解析できません（detail）"
    static CredentialsError parse(const std::string& detail);
    // "<store> に「service」がありません" for an item not found; else on macOS
    // "Keychain 読み取りエラー（service, status N）", elsewhere what failed in words (the status
    // numbers are macOS's own and would mislead). For writes too.
    static CredentialsError keychain(int status, const std::string& service,
                                     const PlatformWords::Words& words = PlatformWords::current);
    // claude has no login at all: no credentials file `file` and no item `service` in the store
    // (or no store to ask). Says what to do.
    static CredentialsError noLogin(int status, const std::string& file, const std::string& service,
                                    const PlatformWords::Words& words = PlatformWords::current);

    Kind kind() const { return m_kind; }
    int status() const { return m_status; }
    const std::string& service() const { return m_service; }

private:
    CredentialsError(Kind kind, const std::string& description, int status = 0, std::string service = {})
        : Error(description)
        , m_kind(kind)
        , m_status(status)
        , m_service(std::move(service)) {}
    Kind m_kind;
    int m_status;
    std::string m_service;
};

// Reading the credential blob, the JSON document in which claude keeps its login:
// {"claudeAiOauth": {"accessToken": …, "refreshToken": …, "expiresAt": <ms>, …}, …} or the same
// members at the top level.
namespace CredentialsProvider {

// Far above any real credential blob; a larger file is not read.
inline constexpr std::size_t kMaxBlobBytes = 16u << 20;

// Throws CredentialsError::parse ("JSON ではありません" / "accessToken がありません").
OAuthCredentials parse(std::string_view data, std::string source);

// The data of one secret-store item; an absent or empty account matches any account.
// Throws CredentialsError::keychain with the store's status and `service`.
std::string keychainRead(SecretStore& store, std::string_view service,
                         std::optional<std::string_view> account);

} // namespace CredentialsProvider
