#include "claude/CredentialResolver.h"

#include "base/Clock.h"
#include "base/FileIO.h"
#include "base/Language.h"
#include "base/Paths.h"
#include "base/Text.h"
#include "claude/ActiveCredentialStore.h"
#include "claude/ProfileSlotStore.h"
#include "secrets/SecretStore.h"
#include "usage/AnthropicAPI.h"

#include <cstdlib>
#include <cstring>

namespace fs = std::filesystem;

ResolveError ResolveError::refreshFailed(const std::string& message, Spend spend,
                                         std::optional<double> retryAfter) {
    ResolveError error(Kind::refreshFailed,
                       Text::fill(TR("トークン更新失敗（再ログイン→取り込みが必要です）: %1"), {message}));
    error.m_spend = spend;
    error.m_retryAfter = retryAfter;
    return error;
}

ResolveError ResolveError::noSlot() {
    return ResolveError(Kind::noSlot,
                        TR("未取込。このアカウントで claude にログイン中に、メニューの「現在のログインを"
                           "ここに取り込む」を実行してください"));
}

ResolveError ResolveError::claudeRenews() {
    return ResolveError(Kind::claudeRenews,
                        TR("このアカウントのログインは claude が使用中のため、ここでは更新しません。claude "
                           "が次に起動したときに自分で更新します"));
}

namespace CredentialResolver {
namespace {

constexpr auto kRenewMargin = std::chrono::seconds(60);

ResolvedCredentials parsed(std::string raw, std::string source, CredSource from) {
    OAuthCredentials credentials = CredentialsProvider::parse(raw, std::move(source));
    return ResolvedCredentials{std::move(credentials), std::move(raw), from};
}

ResolvedCredentials fromLiveLogin(const Services& services) {
    return parsed(ActiveCredentialStore::read(services.secrets, services.home), "active (Claude Code)",
                  CredSource::activeItem);
}

// Whether `file` is the live credential file itself (after "~" and links).
bool isLiveCredentialFile(const fs::path& file, const fs::path& home) {
    std::error_code error;
    return fs::equivalent(file, ActiveCredentialStore::filePath(home), error);
}

} // namespace

bool keychainDisabled() {
    const char* value = std::getenv("ULMET_NO_KEYCHAIN");
    return value && std::strcmp(value, "1") == 0;
}

ResolvedCredentials resolve(const Services& services, const ProfileConfig& profile, bool isActive,
                            const std::optional<std::string>& heldSlot) {
    // 1. The profile's own credentials file. The live credential file is the live login, not the
    //    own file of whichever profile points at ~/.claude: only the active profile may take it.
    fs::path file = Paths::expandTilde(profile.configDir, services.home) / ".credentials.json";
    std::error_code error;
    if (file.is_relative())
        file = fs::absolute(file, error);
    const bool fileExists = fs::exists(file, error);
    const bool isLiveFile = fileExists && isLiveCredentialFile(file, services.home);
    if (fileExists && (isActive || !isLiveFile)) {
        auto bytes = FileIO::readFile(file, CredentialsProvider::kMaxBlobBytes, error);
        if (!bytes)
            throw FileError(file, error);
        return parsed(std::move(*bytes), "file: " + file.string(), CredSource::file);
    }

    // 2. An item the user named explicitly.
    if (profile.keychainService && !keychainDisabled()) {
        std::optional<std::string_view> account;
        if (profile.keychainAccount)
            account = *profile.keychainAccount;
        std::string raw =
            CredentialsProvider::keychainRead(services.secrets, *profile.keychainService, account);
        return parsed(std::move(raw),
                      std::string(PlatformWords::current.secretStoreSource) + *profile.keychainService,
                      CredSource::customKeychain);
    }

    // 3. Nothing else may be read.
    if (keychainDisabled()) {
        if (isLiveFile)
            throw CredentialsError::notFound(
                Text::fill(TR("%1 は現在ログイン中のアカウントのもので、このプロファイルには使いません。%2"),
                           {file.string(), TR(PlatformWords::current.notReadBecauseDisabled.data())}));
        throw CredentialsError::notFound(Text::fill(
            TR("%1 が無く、%2"), {file.string(), TR(PlatformWords::current.notReadBecauseDisabled.data())}));
    }

    // 4. The live login, when this is the logged-in profile; a failure here is passed over.
    if (isActive) {
        try {
            return fromLiveLogin(services);
        } catch (const Error&) {
        }
    }

    // 5. The slot (or what the caller holds of it).
    if (heldSlot)
        return parsed(*heldSlot, "ulmet slot", CredSource::slot);
    SecretRead slot = services.secrets.read(ProfileSlotStore::service, profile.id.toString());
    if (slot.status == SecretStatus::success)
        return parsed(std::move(slot.data), "ulmet slot", CredSource::slot);

    // 6. The live login again, now with its failure. No file and no item (or no store at all) is
    // a machine where claude has never logged in: say so, and what to do.
    if (isActive) {
        try {
            return fromLiveLogin(services);
        } catch (const CredentialsError& e) {
            if (e.kind() == CredentialsError::Kind::keychain &&
                e.service() == ActiveCredentialStore::keychainService &&
                (e.status() == SecretStatus::itemNotFound || e.status() == SecretStatus::notAvailable))
                throw CredentialsError::noLogin(
                    e.status(), ActiveCredentialStore::filePath(services.home).string(), e.service());
            throw;
        }
    }
    throw ResolveError::noSlot();
}

bool needsRenewal(const ResolvedCredentials& resolved, Instant now) {
    return resolved.source == CredSource::slot && resolved.credentials.expiresAt &&
           *resolved.credentials.expiresAt - now < kRenewMargin;
}

ResolvedCredentials renew(const Services& services, const ResolvedCredentials& resolved) {
    std::string renewed;
    try {
        renewed = AnthropicAPI::refreshTokens(services.http, services.clock, resolved.raw);
    } catch (const APIError& e) {
        // 400 (invalid_grant above all), 401 and 403 refuse this refresh token for good. Any other
        // answer below 500 (a rate limit, a missing route) did not take it: it may be sent again.
        // A 5xx or an answer that cannot be read may come after the token was rotated.
        using Spend = ResolveError::Spend;
        const int status = e.kind() == APIError::Kind::rateLimited ? 429 : e.status();
        const Spend spend = e.kind() == APIError::Kind::badResponse           ? Spend::unknown
                            : status == 400 || status == 401 || status == 403 ? Spend::refused
                            : status < 500                                    ? Spend::notSpent
                                                                              : Spend::unknown;
        throw ResolveError::refreshFailed(e.description(), spend, e.retryAfter());
    } catch (const TransportError& e) {
        throw ResolveError::refreshFailed(e.description(), e.mayHaveArrived()
                                                               ? ResolveError::Spend::unknown
                                                               : ResolveError::Spend::notSpent);
    } catch (const Error& e) {
        throw ResolveError::refreshFailed(e.description(), ResolveError::Spend::notSpent); // never sent
    }
    return parsed(std::move(renewed), "ulmet slot (refreshed)", CredSource::slot);
}

} // namespace CredentialResolver
