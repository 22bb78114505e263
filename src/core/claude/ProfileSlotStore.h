#pragma once

#include "base/Uuid.h"

#include <string>
#include <string_view>

class SecretStore;

// The program's own copy of each profile's credential blob (its slot): one secret-store item per
// profile, service `service`, account the profile id's upper-case text.
namespace ProfileSlotStore {

// Never changes: existing slots are found by it.
inline constexpr std::string_view service = "io.github.ulmet.meterkeeper.profile-credentials";

// Stores `data` as the profile's slot, replacing what it held. When the new data cannot be
// stored the previous slot stays as it was. Throws CredentialsError::keychain.
void write(SecretStore& store, const Uuid& profileId, std::string_view data);
// Removes the profile's slot; a missing slot is no failure. Throws CredentialsError::keychain.
void remove(SecretStore& store, const Uuid& profileId);

} // namespace ProfileSlotStore
