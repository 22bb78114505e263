#pragma once

#include "secrets/SecretStore.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace testsupport {

// SecretStore in one JSON file, shared by the processes that open the same file one after the
// other (a process killed at any moment leaves the file as it was before or after its last
// operation: every change replaces the file atomically). Not for processes at the same time.
class FileSecretStore : public SecretStore {
public:
    explicit FileSecretStore(std::filesystem::path file)
        : m_file(std::move(file)) {}

    SecretRead read(std::string_view service, std::optional<std::string_view> account) override;
    int store(std::string_view service, std::string_view account, std::string_view data) override;
    int update(std::string_view service, std::string_view data) override;
    int remove(std::string_view service, std::string_view account) override;

    // Direct access for assertions.
    std::optional<std::string> get(std::string_view service, std::string_view account);

private:
    using Items = std::map<std::pair<std::string, std::string>, std::string>;
    Items load() const;
    int save(const Items& items) const;

    std::filesystem::path m_file;
    std::mutex m_mutex;
};

} // namespace testsupport
