#pragma once

#include "SecretStore.h"

// SecretStore over the freedesktop Secret Service (gnome-keyring, KWallet, KeePassXC) through
// libsecret. Items use the schema "org.freedesktop.Secret.Generic" with the attributes
// "service" and "account", and lookups also match items of that shape stored by other programs.
// Locked items are never unlocked here (that would open a prompt): they read as
// SecretStatus::interactionNotAllowed. No reachable service gives SecretStatus::notAvailable.
class LibsecretSecretStore : public SecretStore {
public:
    SecretRead read(std::string_view service, std::optional<std::string_view> account) override;
    int store(std::string_view service, std::string_view account, std::string_view data) override;
    int update(std::string_view service, std::string_view data) override;
    int remove(std::string_view service, std::string_view account) override;
};
