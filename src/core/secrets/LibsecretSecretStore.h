#pragma once

#include "secrets/SecretStore.h"

#include <atomic>
#include <chrono>
#include <cstdint>

// SecretStore over the freedesktop Secret Service (gnome-keyring, KWallet, KeePassXC) through
// libsecret. Items use the schema "org.freedesktop.Secret.Generic" with the attributes
// "service" and "account", and lookups also match items of that shape stored by other programs.
// Locked items are never unlocked here (that would open a prompt): they read as
// SecretStatus::interactionNotAllowed. No reachable service gives SecretStatus::notAvailable.
//
// Every call is bounded: a Secret Service that does not answer within `timeout` gives
// SecretStatus::notAvailable, and for `pause` afterwards every call gives it at once, so that a
// hung service costs one time-out per pause, not one per call.
class LibsecretSecretStore : public SecretStore {
public:
    explicit LibsecretSecretStore(std::chrono::milliseconds timeout = std::chrono::seconds(3),
                                  std::chrono::milliseconds pause = std::chrono::seconds(60));

    SecretRead read(std::string_view service, std::optional<std::string_view> account) override;
    int store(std::string_view service, std::string_view account, std::string_view data) override;
    int update(std::string_view service, std::string_view data) override;
    int remove(std::string_view service, std::string_view account) override;

private:
    // Runs `body(service, cancellable)` connected and within the time-out; its status, or
    // notAvailable when the service is paused, unreachable or too slow.
    template <class Body>
    int guarded(Body&& body);
    bool paused() const;

    std::chrono::milliseconds m_timeout;
    std::chrono::milliseconds m_pause;
    std::atomic<std::int64_t> m_pausedUntil{0}; // steady-clock ticks
};
