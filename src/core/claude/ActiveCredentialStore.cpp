#include "claude/ActiveCredentialStore.h"

#include "base/Errors.h"
#include "base/FileIO.h"
#include "base/Paths.h"
#include "claude/CredentialsProvider.h"
#include "secrets/SecretStore.h"

namespace fs = std::filesystem;

namespace ActiveCredentialStore {
fs::path filePath(const fs::path& home) {
    return home / ".claude" / ".credentials.json";
}

std::string read(SecretStore& store, const fs::path& home) {
    const fs::path file = filePath(home);
    std::error_code error;
    if (fs::exists(file, error)) {
        auto bytes = FileIO::readFile(file, CredentialsProvider::kMaxBlobBytes, error);
        if (!bytes)
            throw FileError(file, error);
        return std::move(*bytes);
    }
    return CredentialsProvider::keychainRead(store, keychainService, std::nullopt);
}

void write(SecretStore& store, const fs::path& home, std::string_view data) {
    const fs::path file = filePath(home);
    std::error_code error;
    if (fs::exists(file, error)) {
        const fs::path target = FileIO::linkTarget(file); // a link stays a link
        // The temporary file is created 0600 and the mode is set before the rename.
        if (!FileIO::writeAtomic(target, data, 0600, error))
            throw FileError(target, error);
        return;
    }
    int status = store.update(keychainService, data);
    if (status == SecretStatus::itemNotFound)
        status = store.store(keychainService, Paths::loginName(), data);
    if (status != SecretStatus::success)
        throw CredentialsError::keychain(status, std::string(keychainService));
}

} // namespace ActiveCredentialStore
