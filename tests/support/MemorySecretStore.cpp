#include "MemorySecretStore.h"

#include <random>
#include <thread>

namespace testsupport {

void MemorySecretStore::pause() const {
    if (const long long max = m_maxDelay.load(); max > 0) {
        thread_local std::minstd_rand random(std::random_device{}());
        std::this_thread::sleep_for(
            std::chrono::microseconds(random() % static_cast<unsigned long long>(max)));
    }
}

SecretRead MemorySecretStore::read(std::string_view service, std::optional<std::string_view> account) {
    pause();
    std::lock_guard lock(m_mutex);
    ++m_reads;
    if (m_readFailure)
        return {m_readFailure, {}};
    for (const auto& [key, data] : m_items)
        if (key.first == service && (!account || account->empty() || key.second == *account))
            return {SecretStatus::success, data};
    return {SecretStatus::itemNotFound, {}};
}

int MemorySecretStore::store(std::string_view service, std::string_view account, std::string_view data) {
    pause();
    std::lock_guard lock(m_mutex);
    if (m_writeFailure)
        return m_writeFailure;
    m_items[{std::string(service), std::string(account)}] = std::string(data);
    return SecretStatus::success;
}

int MemorySecretStore::update(std::string_view service, std::string_view data) {
    pause();
    std::lock_guard lock(m_mutex);
    if (m_writeFailure)
        return m_writeFailure;
    bool any = false;
    for (auto& [key, value] : m_items)
        if (key.first == service) {
            value = std::string(data);
            any = true;
        }
    return any ? SecretStatus::success : SecretStatus::itemNotFound;
}

int MemorySecretStore::remove(std::string_view service, std::string_view account) {
    pause();
    std::lock_guard lock(m_mutex);
    if (m_writeFailure)
        return m_writeFailure;
    return m_items.erase({std::string(service), std::string(account)}) ? SecretStatus::success
                                                                       : SecretStatus::itemNotFound;
}

void MemorySecretStore::failReads(int status) {
    std::lock_guard lock(m_mutex);
    m_readFailure = status;
}

void MemorySecretStore::failWrites(int status) {
    std::lock_guard lock(m_mutex);
    m_writeFailure = status;
}

std::optional<std::string> MemorySecretStore::get(std::string_view service, std::string_view account) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_items.find({std::string(service), std::string(account)});
    if (it == m_items.end())
        return std::nullopt;
    return it->second;
}

std::size_t MemorySecretStore::size() const {
    std::lock_guard lock(m_mutex);
    return m_items.size();
}

int MemorySecretStore::readCount() const {
    std::lock_guard lock(m_mutex);
    return m_reads;
}

} // namespace testsupport
