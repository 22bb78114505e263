#include "FileSecretStore.h"

#include "base/FileIO.h"

#include <nlohmann/json.hpp>

namespace testsupport {

FileSecretStore::Items FileSecretStore::load() const {
    std::error_code error;
    const auto text = FileIO::readFile(m_file, 16u << 20, error);
    const auto items = text ? nlohmann::json::parse(*text, nullptr, false) : nlohmann::json::array();
    Items out;
    if (items.is_array())
        for (const auto& item : items)
            out[{item.value("service", ""), item.value("account", "")}] = item.value("data", "");
    return out;
}

int FileSecretStore::save(const Items& items) const {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& [key, data] : items)
        out.push_back({{"service", key.first}, {"account", key.second}, {"data", data}});
    std::error_code error;
    return FileIO::writeAtomic(m_file, out.dump(), 0600, error) ? SecretStatus::success
                                                                : SecretStatus::internalError;
}

SecretRead FileSecretStore::read(std::string_view service, std::optional<std::string_view> account) {
    const std::lock_guard lock(m_mutex);
    for (const auto& [key, data] : load())
        if (key.first == service && (!account || account->empty() || key.second == *account))
            return {SecretStatus::success, data};
    return {SecretStatus::itemNotFound, {}};
}

int FileSecretStore::store(std::string_view service, std::string_view account, std::string_view data) {
    const std::lock_guard lock(m_mutex);
    Items items = load();
    items[{std::string(service), std::string(account)}] = std::string(data);
    return save(items);
}

int FileSecretStore::update(std::string_view service, std::string_view data) {
    const std::lock_guard lock(m_mutex);
    Items items = load();
    bool any = false;
    for (auto& [key, value] : items)
        if (key.first == service) {
            value = std::string(data);
            any = true;
        }
    return any ? save(items) : SecretStatus::itemNotFound;
}

int FileSecretStore::remove(std::string_view service, std::string_view account) {
    const std::lock_guard lock(m_mutex);
    Items items = load();
    if (!items.erase({std::string(service), std::string(account)}))
        return SecretStatus::itemNotFound;
    return save(items);
}

std::optional<std::string> FileSecretStore::get(std::string_view service, std::string_view account) {
    const std::lock_guard lock(m_mutex);
    const Items items = load();
    const auto it = items.find({std::string(service), std::string(account)});
    return it == items.end() ? std::nullopt : std::optional(it->second);
}

} // namespace testsupport
