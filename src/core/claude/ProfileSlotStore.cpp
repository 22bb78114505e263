#include "claude/ProfileSlotStore.h"

#include "claude/CredentialsProvider.h"
#include "secrets/SecretStore.h"

namespace ProfileSlotStore {

void write(SecretStore& store, const Uuid& profileId, std::string_view data) {
    // An add-or-replace in one step instead of delete-then-add: a failed write must not leave the
    // profile without the credential it had.
    const int status = store.store(service, profileId.toString(), data);
    if (status != SecretStatus::success)
        throw CredentialsError::keychain(status, std::string(service));
}

void remove(SecretStore& store, const Uuid& profileId) {
    const int status = store.remove(service, profileId.toString());
    if (status != SecretStatus::success && status != SecretStatus::itemNotFound)
        throw CredentialsError::keychain(status, std::string(service));
}

} // namespace ProfileSlotStore
