#pragma once

#include "base/Errors.h"
#include "base/Services.h"
#include "claude/CredentialsProvider.h"
#include "config/AppConfig.h"

#include <string>

// Where a resolved credential blob came from.
enum class CredSource { file, activeItem, slot, customKeychain };

struct ResolvedCredentials {
    OAuthCredentials credentials;
    std::string raw; // the whole blob as read (or as renewed), to be stored elsewhere unchanged
    CredSource source;
};

class ResolveError : public Error {
public:
    enum class Kind { refreshFailed, noSlot };

    // "トークン更新失敗（再ログイン→取り込みが必要です）: " + message
    static ResolveError refreshFailed(const std::string& message);
    // "未取込。このアカウントで claude にログイン中に、…"
    static ResolveError noSlot();

    Kind kind() const { return m_kind; }

private:
    ResolveError(Kind kind, const std::string& description)
        : Error(description)
        , m_kind(kind) {}
    Kind m_kind;
};

// Which OAuth credentials belong to a Claude profile right now. Stateless; reads everything anew.
namespace CredentialResolver {

// True exactly when ULMET_NO_KEYCHAIN is "1"; read at every call.
bool keychainDisabled();

// Searches, in order: the profile's own .credentials.json; its secret-store override; (for the
// active profile) the live login; its slot; (for the active profile) the live login again, now
// reporting its failure. The live credential file is never taken as an inactive profile's own
// file. Throws CredentialsError, ResolveError::noSlot or FileError. Blocks on files and the
// secret store.
ResolvedCredentials resolve(const Services& services, const ProfileConfig& profile, bool isActive);

// resolve(), then renews slot credentials that expire in less than 60 seconds and stores the
// renewed blob in the slot before returning it. Throws as resolve() does, or
// ResolveError::refreshFailed. Blocks for the token request too.
ResolvedCredentials resolveFresh(const Services& services, const ProfileConfig& profile, bool isActive);

} // namespace CredentialResolver
