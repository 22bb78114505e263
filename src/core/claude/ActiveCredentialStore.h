#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

class SecretStore;

// The live claude login: the file ~/.claude/.credentials.json when it exists (always the case on
// Linux), otherwise the secret-store item of the service "Claude Code-credentials".
namespace ActiveCredentialStore {

inline constexpr std::string_view keychainService = "Claude Code-credentials";

// ~/.claude/.credentials.json under `home`.
std::filesystem::path filePath(const std::filesystem::path& home);

// The live blob. The file wins whenever it exists, even empty or unreadable. Throws FileError or
// CredentialsError::keychain.
std::string read(SecretStore& store, const std::filesystem::path& home);

// The live blob as it is now, without throwing: none when there is no live login; `unreadable`
// when there is one that cannot be read or parsed (a file half written, a locked store): then no
// one can tell whose tokens it holds.
struct Now {
    std::optional<std::string> blob; // parsed as credentials when set
    bool unreadable = false;
};
Now readNow(SecretStore& store, const std::filesystem::path& home);

// Replaces the live blob in the form it has now (never creates the file). The file is replaced
// atomically and is never readable by others, not even for an instant; a symbolic link to it
// stays a link. Otherwise every item of the service is updated, or one is added with the login
// name as account. Throws FileError or CredentialsError::keychain.
// With `onlyOver`, only while the live blob is still exactly that (claude rewrites its login
// without a lock; the file is compared just before it is replaced): false, with nothing written,
// when it is not.
bool write(SecretStore& store, const std::filesystem::path& home, std::string_view data,
           const std::optional<std::string>& onlyOver = std::nullopt);

// Removes what a write cut short (a crash, a kill) left beside the live file: our temporary
// files, which may hold a login, once they are older than a minute (a younger one may be a write
// under way in another process). Failures are ignored.
void removeLeftovers(const std::filesystem::path& home);

} // namespace ActiveCredentialStore
