#pragma once

#include "secrets/SecretStore.h"

// SecretStore over the macOS Keychain (generic-password items). Compiled on Apple platforms only.
class KeychainSecretStore : public SecretStore {
public:
    SecretRead read(std::string_view service, std::optional<std::string_view> account) override;
    int store(std::string_view service, std::string_view account, std::string_view data) override;
    int update(std::string_view service, std::string_view data) override;
    int remove(std::string_view service, std::string_view account) override;
};
