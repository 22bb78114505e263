#pragma once

#include "secrets/SecretStore.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace testsupport {

// SecretStore in memory, with failures that tests can switch on.
class MemorySecretStore : public SecretStore {
public:
    SecretRead read(std::string_view service, std::optional<std::string_view> account) override;
    int store(std::string_view service, std::string_view account, std::string_view data) override;
    int update(std::string_view service, std::string_view data) override;
    int remove(std::string_view service, std::string_view account) override;

    // Every operation of that kind fails with `status` (0 clears it).
    void failReads(int status);
    void failWrites(int status); // store, update and remove
    // Every operation first waits a random time up to `max` (real time): a slow store.
    void setMaxDelay(std::chrono::microseconds max) { m_maxDelay = max.count(); }

    // Direct access for assertions.
    std::optional<std::string> get(std::string_view service, std::string_view account) const;
    std::size_t size() const;
    int readCount() const;

private:
    void pause() const;
    mutable std::mutex m_mutex;
    std::map<std::pair<std::string, std::string>, std::string> m_items;
    int m_readFailure = 0;
    int m_writeFailure = 0;
    int m_reads = 0;
    std::atomic<long long> m_maxDelay{0};
};

} // namespace testsupport
