#pragma once

#include "secrets/SecretStore.h"

#include <memory>

// The desktop's secret store: the Secret Service on Linux, the Keychain on macOS.
std::unique_ptr<SecretStore> makePlatformSecretStore();
