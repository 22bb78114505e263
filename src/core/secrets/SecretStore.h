#pragma once

#include <optional>
#include <string>
#include <string_view>

// Status codes of secret-store operations; the numbers are the macOS Keychain's.
namespace SecretStatus {
inline constexpr int success = 0;
inline constexpr int itemNotFound = -25300;          // errSecItemNotFound
inline constexpr int notAvailable = -25291;          // errSecNotAvailable: no secret service reachable
inline constexpr int interactionNotAllowed = -25308; // errSecInteractionNotAllowed: the collection is locked
inline constexpr int internalError = -26276;         // errSecInternal: any other failure
} // namespace SecretStatus

struct SecretRead {
    int status = SecretStatus::itemNotFound;
    std::string data; // the secret's bytes when status is success
};

// Generic-password items addressed by service + account, holding bytes. Implementations block
// the calling thread (never call them on the GUI thread) and are safe to call from several
// threads at once.
class SecretStore {
public:
    virtual ~SecretStore() = default;

    // One item of `service`; with no account (or an empty one) any account matches.
    virtual SecretRead read(std::string_view service, std::optional<std::string_view> account) = 0;
    // Adds the item, or replaces the data of the item with exactly this service and account.
    // Afterwards exactly one such item holds `data`; on failure the previous item is unchanged.
    virtual int store(std::string_view service, std::string_view account, std::string_view data) = 0;
    // Replaces the data of every item of `service`, whatever its account; itemNotFound when there
    // is none.
    virtual int update(std::string_view service, std::string_view data) = 0;
    // Removes the item with this service and account; itemNotFound when there is none.
    virtual int remove(std::string_view service, std::string_view account) = 0;
};
