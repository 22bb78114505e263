#pragma once

#include "base/Errors.h"
#include "base/Services.h"
#include "claude/CredentialsProvider.h"
#include "config/AppConfig.h"

#include <optional>
#include <string>

// Where a resolved credential blob came from.
enum class CredSource { file, activeItem, slot, customKeychain };

struct ResolvedCredentials {
    OAuthCredentials credentials;
    std::string raw; // the whole blob as read (or as renewed), to be stored elsewhere unchanged
    CredSource source;
    // Renewed, but the slot could not be written: `raw` holds the only copy of the new tokens
    // (the old refresh token is spent). The caller keeps it and writes it to the slot later.
    bool unsaved = false;
};

class ResolveError : public Error {
public:
    enum class Kind { refreshFailed, noSlot, claudeRenews };

    // What a failed renewal did to its refresh token.
    enum class Spend {
        refused,  // the endpoint refused the token itself (400, 401, 403): never send it again
        notSpent, // the endpoint did not take it (a rate limit, a missing route) or it never left
        unknown,  // it may have been taken (a 5xx, a cut answer, a time-out after it left)
    };
    // "トークン更新失敗（再ログイン→取り込みが必要です）: " + message
    static ResolveError refreshFailed(const std::string& message, Spend spend = Spend::unknown,
                                      std::optional<double> retryAfter = std::nullopt);
    // "未取込。このアカウントで claude にログイン中に、…"
    static ResolveError noSlot();
    // The slot's tokens were handed to claude, which may hold or have spent them: claude renews
    // them itself.
    static ResolveError claudeRenews();

    Kind kind() const { return m_kind; }
    Spend spend() const { return m_spend; }
    bool refused() const { return m_spend == Spend::refused; }
    std::optional<double> retryAfter() const { return m_retryAfter; } // seconds, with notSpent

private:
    ResolveError(Kind kind, const std::string& description)
        : Error(description)
        , m_kind(kind) {}
    Kind m_kind;
    Spend m_spend = Spend::unknown;
    std::optional<double> m_retryAfter;
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
// `heldSlot`, when given, is the slot's credential as the caller holds it (renewed tokens it could
// not write yet) and is used instead of reading the slot.
ResolvedCredentials resolve(const Services& services, const ProfileConfig& profile, bool isActive,
                            const std::optional<std::string>& heldSlot = std::nullopt);

// Whether slot credentials expire within a minute (and have an expiry at all): a caller that
// keeps the slot renews them first. Credentials of any other source are never renewed.
bool needsRenewal(const ResolvedCredentials& resolved, Instant now);

// The renewed form of slot credentials (one request to the token endpoint; the old refresh token
// is spent by it). Stores nothing: the caller owns the slot. Throws ResolveError::refreshFailed,
// which says what became of the refresh token.
ResolvedCredentials renew(const Services& services, const ResolvedCredentials& resolved);

} // namespace CredentialResolver
