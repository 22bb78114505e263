#include "claude/SlotCustodian.h"

#include "base/Clock.h"
#include "base/Language.h"
#include "base/Text.h"
#include "claude/ActiveCredentialStore.h"
#include "claude/ProfileSlotStore.h"
#include "secrets/SecretStore.h"

namespace {

std::uint64_t fingerprint(const std::string& refreshToken) {
    return Text::fnv1a64(refreshToken);
}

std::optional<OAuthCredentials> credentialsOf(const std::string& blob) {
    try {
        return CredentialsProvider::parse(blob, "");
    } catch (const CredentialsError&) {
        return std::nullopt;
    }
}

} // namespace

SlotCustodian::SlotCustodian(Services services)
    : m_services(std::move(services)) {}

std::shared_ptr<SlotCustodian::Lane> SlotCustodian::laneOf(const Uuid& id) {
    const std::lock_guard lock(m_mutex);
    auto& lane = m_lanes[id];
    if (!lane)
        lane = std::make_shared<Lane>();
    return lane;
}

std::optional<std::string> SlotCustodian::heldOf(const Uuid& id) {
    const std::lock_guard lock(m_mutex);
    const auto it = m_held.find(id);
    return it == m_held.end() ? std::nullopt : std::optional(it->second);
}

bool SlotCustodian::isRemoved(const Uuid& id) {
    const std::lock_guard lock(m_mutex);
    return m_removed.contains(id);
}

std::optional<std::string> SlotCustodian::currentLocked(const Uuid& id) {
    if (isRemoved(id))
        return std::nullopt;
    if (auto held = heldOf(id))
        return held;
    SecretRead slot = m_services.secrets.read(ProfileSlotStore::service, id.toString());
    if (slot.status != SecretStatus::success)
        return std::nullopt;
    return std::move(slot.data);
}

void SlotCustodian::writeLocked(const Uuid& id, const std::string& blob) {
    if (isRemoved(id))
        return; // nothing to keep for a profile that is gone
    // The secret store may rewrite its whole keyring on a write: skip one that changes nothing.
    const SecretRead stored = m_services.secrets.read(ProfileSlotStore::service, id.toString());
    if (!(stored.status == SecretStatus::success && stored.data == blob))
        ProfileSlotStore::write(m_services.secrets, id, blob); // throws when refused
    const std::lock_guard lock(m_mutex);
    m_held.erase(id);
}

bool SlotCustodian::storeOrHoldLocked(const Uuid& id, const std::string& blob) {
    try {
        writeLocked(id, blob);
        return true;
    } catch (const Error&) {
        const std::lock_guard lock(m_mutex);
        if (!m_removed.contains(id))
            m_held.insert_or_assign(id, blob);
        return false;
    }
}

std::optional<std::string> SlotCustodian::read(const Uuid& id) {
    const auto lane = laneOf(id);
    const std::lock_guard turn(lane->mutex);
    return currentLocked(id);
}

bool SlotCustodian::has(const Uuid& id) {
    if (CredentialResolver::keychainDisabled())
        return false;
    return read(id).has_value();
}

void SlotCustodian::store(const Uuid& id, const std::string& blob) {
    const auto lane = laneOf(id);
    const std::lock_guard turn(lane->mutex);
    writeLocked(id, blob);
}

bool SlotCustodian::storeOrHold(const Uuid& id, const std::string& blob) {
    const auto lane = laneOf(id);
    const std::lock_guard turn(lane->mutex);
    return storeOrHoldLocked(id, blob) && !isRemoved(id);
}

void SlotCustodian::remove(const Uuid& id) {
    const auto lane = laneOf(id);
    const std::lock_guard turn(lane->mutex);
    {
        const std::lock_guard lock(m_mutex);
        m_removed.insert(id);
        m_held.erase(id);
    }
    ProfileSlotStore::remove(m_services.secrets, id);
}

void SlotCustodian::letGoLocked(std::uint64_t key) {
    const auto it = m_claudes.find(key);
    if (it == m_claudes.end() || it->second.until)
        return;
    if (it->second.expiresAt)
        it->second.until = *it->second.expiresAt + kSwitchedOutGrace;
    else
        m_claudes.erase(it);
}

void SlotCustodian::holdLocked(const std::string& blob, const std::optional<std::string>& account) {
    const auto credentials = credentialsOf(blob);
    if (!credentials || !credentials->refreshToken)
        return;
    ClaudeHeld& held = m_claudes[fingerprint(*credentials->refreshToken)];
    if (account)
        held.account = account;
    held.expiresAt = credentials->expiresAt;
    held.until.reset(); // live again
}

void SlotCustodian::noteLive(const std::string& blob, const std::optional<std::string>& account) {
    const std::lock_guard lock(m_mutex);
    // claude is on this account now: another account's tokens are let go, once the sessions that
    // may still hold them have had their time.
    if (account) {
        std::vector<std::uint64_t> others;
        for (const auto& [key, held] : m_claudes)
            if (held.account && held.account != account)
                others.push_back(key);
        for (const std::uint64_t key : others)
            letGoLocked(key);
    }
    holdLocked(blob, account);
}

void SlotCustodian::handedToClaude(const std::string& blob, const std::optional<std::string>& account) {
    const std::lock_guard lock(m_mutex);
    std::vector<std::uint64_t> all;
    for (const auto& [key, held] : m_claudes)
        all.push_back(key);
    for (const std::uint64_t key : all)
        letGoLocked(key);
    holdLocked(blob, account);
}

std::optional<std::string> SlotCustodian::liveBlob() {
    try {
        return ActiveCredentialStore::read(m_services.secrets, m_services.home);
    } catch (const Error&) {
        return std::nullopt;
    }
}

ResolvedCredentials SlotCustodian::grant(const ResolvedCredentials& resolved) {
    // One exchange per refresh token, whichever slots hold it (a capture may have put one login
    // into two profiles): the first slot's renewal or refusal is every other slot's too.
    const std::uint64_t key = fingerprint(resolved.credentials.refreshToken.value_or(""));
    std::shared_ptr<Lane> lane;
    {
        const std::lock_guard lock(m_mutex);
        auto& slot = m_grantLanes[key];
        if (!slot)
            slot = std::make_shared<Lane>();
        lane = slot;
    }
    const std::lock_guard turn(lane->mutex);
    std::optional<Spent> spent;
    {
        const std::lock_guard lock(m_mutex);
        if (const auto it = m_spent.find(key); it != m_spent.end())
            spent = it->second;
    }
    if (spent && spent->refusal)
        throw *spent->refusal;
    if (spent && spent->renewed)
        return ResolvedCredentials{CredentialsProvider::parse(*spent->renewed, "ulmet slot (refreshed)"),
                                   *spent->renewed, CredSource::slot};
    if (spent) // spent long ago: its renewal is no longer kept, and it is never sent again
        throw ResolveError::refreshFailed(TR("このトークンは既に更新に使われています"), true);
    try {
        ResolvedCredentials renewed = CredentialResolver::renew(m_services, resolved);
        remember(key, Spent{renewed.raw, std::nullopt});
        return renewed;
    } catch (const ResolveError& e) {
        if (e.refused())
            remember(key, Spent{std::nullopt, e});
        throw;
    }
}

void SlotCustodian::remember(std::uint64_t key, Spent spent) {
    const std::lock_guard lock(m_mutex);
    m_spent.insert_or_assign(key, std::move(spent));
    if (!m_spent.at(key).renewed)
        return;
    // Renewed blobs are kept for the latest renewals only; older ones leave their fingerprint.
    m_recentGrants.push_back(key);
    if (m_recentGrants.size() > kKeptGrants) {
        if (const auto it = m_spent.find(m_recentGrants.front()); it != m_spent.end())
            it->second.renewed.reset();
        m_recentGrants.pop_front();
    }
}

bool SlotCustodian::isClaudes(const std::string& refreshToken) {
    const Instant now = m_services.clock.now();
    const std::lock_guard lock(m_mutex);
    const auto it = m_claudes.find(fingerprint(refreshToken));
    if (it == m_claudes.end())
        return false;
    if (it->second.until && now >= *it->second.until) {
        m_claudes.erase(it); // switched out long enough ago: ours to renew
        return false;
    }
    return true;
}

SlotCustodian::ForUse SlotCustodian::credentialsFor(const ProfileConfig& profile) {
    // One at a time per slot: a caller that waited here finds the renewal of the one before.
    const auto lane = laneOf(profile.id);
    const std::lock_guard turn(lane->mutex);
    std::optional<std::string> held = heldOf(profile.id);
    if (held) { // written now when the secret store takes it again
        try {
            writeLocked(profile.id, *held);
            held.reset();
        } catch (const Error&) {
        }
    }
    ForUse use{CredentialResolver::resolve(m_services, profile, false, held)};
    const Instant now = m_services.clock.now();
    if (!CredentialResolver::needsRenewal(use.resolved, now))
        return use;

    // The refresh token may be claude's: the live login's own, or one handed to claude.
    if (const auto& refresh = use.resolved.credentials.refreshToken) {
        if (const auto live = liveBlob()) {
            noteLive(*live, std::nullopt);
            try {
                OAuthCredentials liveCredentials = CredentialsProvider::parse(*live, "active (Claude Code)");
                if (liveCredentials.refreshToken == refresh) {
                    use.resolved =
                        ResolvedCredentials{std::move(liveCredentials), *live, CredSource::activeItem};
                    use.claudes = true;
                    return use;
                }
            } catch (const CredentialsError&) {
            }
        }
        if (isClaudes(*refresh))
            throw ResolveError::claudeRenews();
    }

    const std::string renewedFrom = use.resolved.raw;
    ResolvedCredentials renewed = grant(use.resolved);
    // Stored only over the blob that was renewed: a slot that changed meanwhile keeps its new
    // content, and a removed profile's slot stays gone (writeLocked skips it).
    if (const auto current = currentLocked(profile.id); current && *current != renewedFrom)
        return ForUse{CredentialResolver::resolve(m_services, profile, false, current)};
    // The old refresh token is spent: when the slot refuses the new ones they are held here.
    renewed.unsaved = !storeOrHoldLocked(profile.id, renewed.raw);
    return ForUse{std::move(renewed)};
}
