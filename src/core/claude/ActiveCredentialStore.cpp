#include "claude/ActiveCredentialStore.h"

#include "base/Errors.h"
#include "base/FileIO.h"
#include "base/Paths.h"
#include "claude/CredentialsProvider.h"
#include "secrets/SecretStore.h"

#include <chrono>

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

Now readNow(SecretStore& store, const fs::path& home) {
    Now now;
    try {
        std::string blob = read(store, home);
        (void)CredentialsProvider::parse(blob, "active");
        now.blob = std::move(blob);
    } catch (const CredentialsError& e) {
        now.unreadable =
            !(e.kind() == CredentialsError::Kind::keychain &&
              (e.status() == SecretStatus::itemNotFound || e.status() == SecretStatus::notAvailable));
    } catch (const Error&) {
        now.unreadable = true;
    }
    return now;
}

bool write(SecretStore& store, const fs::path& home, std::string_view data,
           const std::optional<std::string>& onlyOver) {
    const fs::path file = filePath(home);
    std::error_code error;
    if (fs::exists(file, error)) {
        const fs::path target = FileIO::linkTarget(file); // a link stays a link
        const auto stillSo = [&] {
            std::error_code e;
            return FileIO::readFile(target, CredentialsProvider::kMaxBlobBytes, e) == onlyOver;
        };
        // The temporary file is created 0600 and the mode is set before the rename.
        if (onlyOver ? FileIO::writeAtomicIf(target, data, 0600, error, stillSo)
                     : FileIO::writeAtomic(target, data, 0600, error))
            return true;
        if (error == std::errc::operation_canceled)
            return false;
        throw FileError(target, error);
    }
    if (onlyOver) {
        try {
            if (CredentialsProvider::keychainRead(store, keychainService, std::nullopt) != *onlyOver)
                return false;
        } catch (const CredentialsError&) {
            return false;
        }
    }
    int status = store.update(keychainService, data);
    if (status == SecretStatus::itemNotFound)
        status = store.store(keychainService, Paths::loginName(), data);
    if (status != SecretStatus::success)
        throw CredentialsError::keychain(status, std::string(keychainService));
    return true;
}

void removeLeftovers(const fs::path& home) {
    const fs::path live = filePath(home);
    // FileIO's temporary files: "." + the file's name + ".tmp-" + six characters.
    const std::string prefix = "." + live.filename().string() + ".tmp-";
    std::error_code error;
    for (fs::directory_iterator it(live.parent_path(), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(prefix) || name.size() != prefix.size() + 6 || it->is_symlink(error))
            continue;
        std::error_code e;
        const auto age = fs::file_time_type::clock::now() - fs::last_write_time(it->path(), e);
        if (!e && age > std::chrono::minutes(1))
            fs::remove(it->path(), e);
    }
}

} // namespace ActiveCredentialStore
