#include "claude/SlotCustodian.h"

#include "base/Clock.h"
#include "base/Language.h"
#include "base/Text.h"
#include "claude/ActiveCredentialStore.h"
#include "claude/CustodyLock.h"
#include "claude/ProfileSlotStore.h"
#include "secrets/SecretStore.h"

#include <algorithm>
#include <cmath>

namespace {

using State = CustodyLedger::State;

CustodyLedger::Token entry(State state, Instant since) {
    CustodyLedger::Token t;
    t.state = state;
    t.since = since;
    return t;
}

std::optional<OAuthCredentials> credentialsOf(const std::string& blob) {
    try {
        return CredentialsProvider::parse(blob, "");
    } catch (const CredentialsError&) {
        return std::nullopt;
    }
}

// claude's live login as it is now: none, its blob, or there but unreadable (being written,
// damaged, or in a locked store): then no one can tell whose refresh token it holds.
struct Live {
    bool unreadable = false;
    std::optional<std::string> blob;
    std::optional<OAuthCredentials> credentials;
};

Live readLive(const Services& services) {
    ActiveCredentialStore::Now now = ActiveCredentialStore::readNow(services.secrets, services.home);
    Live live{now.unreadable, std::move(now.blob), std::nullopt};
    if (live.blob)
        live.credentials = credentialsOf(*live.blob);
    return live;
}

// Under the ledger's update: the token is no longer live (claude's until its access token has
// expired, plus the grace).
void letGo(CustodyLedger::Token& t) {
    if (t.state != State::claudes || t.until)
        return;
    // An expiry years ahead (a blob's own word) counts as ten years, which the clock can hold.
    const Instant latest = t.since + std::chrono::hours(24 * 365 * 10);
    t.until = t.expiresAt ? std::min(*t.expiresAt, latest) + SlotCustodian::kSwitchedOutGrace : t.since;
}

// Under the ledger's update: the blob's refresh token is claude's live one.
void hold(CustodyLedger::Contents& c, const std::string& blob, const std::optional<std::string>& account,
          Instant now) {
    const auto credentials = credentialsOf(blob);
    if (!credentials || !credentials->refreshToken)
        return;
    const auto [it, added] = c.tokens.try_emplace(CustodyLedger::fingerprint(*credentials->refreshToken),
                                                  entry(State::claudes, now));
    CustodyLedger::Token& t = it->second;
    if (t.state != State::claudes)
        return; // sent by us before: that stays known, whoever holds it now
    if (account)
        t.account = account;
    t.expiresAt = credentials->expiresAt;
    t.until.reset(); // live again
}

} // namespace

SlotCustodian::SlotCustodian(Services services, std::filesystem::path dataDir)
    : m_services(std::move(services))
    , m_dataDir(std::move(dataDir))
    , m_ledger(m_dataDir, m_services.clock) {}

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
    return it == m_held.end() ? std::nullopt : std::optional(it->second.blob);
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
    if (!(stored.status == SecretStatus::success && stored.data == blob)) {
        // Removed by another process, which this one has not heard of.
        if (m_ledger.read().removed.contains(id)) {
            const std::lock_guard lock(m_mutex);
            m_removed.insert(id);
            m_held.erase(id);
            return;
        }
        ProfileSlotStore::write(m_services.secrets, id, blob); // throws when refused
    }
    const std::lock_guard lock(m_mutex);
    m_held.erase(id);
}

bool SlotCustodian::storeOrHoldLocked(const Uuid& id, const std::string& blob) {
    try {
        writeLocked(id, blob);
        return true;
    } catch (const Error&) {
        std::optional<std::string> replaces;
        if (SecretRead slot = m_services.secrets.read(ProfileSlotStore::service, id.toString());
            slot.status == SecretStatus::success)
            replaces = std::move(slot.data);
        const std::lock_guard lock(m_mutex);
        if (m_removed.contains(id))
            return false;
        // A copy held already replaces the same slot content as this one.
        if (const auto it = m_held.find(id); it != m_held.end())
            replaces = it->second.replaces;
        m_held.insert_or_assign(id, Held{blob, std::move(replaces)});
        return false;
    }
}

void SlotCustodian::writeHeldLocked(const Uuid& id) {
    std::optional<Held> held;
    {
        const std::lock_guard lock(m_mutex);
        if (const auto it = m_held.find(id); it != m_held.end())
            held = it->second;
    }
    if (!held)
        return;
    std::optional<std::string> now;
    if (SecretRead slot = m_services.secrets.read(ProfileSlotStore::service, id.toString());
        slot.status == SecretStatus::success)
        now = std::move(slot.data);
    if (now != held->replaces && now != held->blob) {
        const std::lock_guard lock(m_mutex); // written since by another process: its login stays
        m_held.erase(id);
        return;
    }
    try {
        writeLocked(id, held->blob);
    } catch (const Error&) {
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

void SlotCustodian::store(const Uuid& id, const std::string& blob,
                          const std::optional<std::string>& account) {
    const CustodyLock custody(m_dataDir);
    const auto lane = laneOf(id);
    const std::lock_guard turn(lane->mutex);
    const auto slots = m_ledger.read().slotAccounts;
    const auto before = slots.find(id);
    if (before == slots.end() || before->second == account) {
        writeLocked(id, blob);
        if (before == slots.end()) // named already otherwise
            noteSlotAccount(id, account);
        return;
    }
    // Another account's login than the one named: named as of no known account while it is
    // written, so that no process pairs it with the identity of the account the slot held before
    // (a crash in between leaves it so until the next capture).
    m_ledger.update([&](CustodyLedger::Contents& c) { c.slotAccounts[id] = std::nullopt; });
    try {
        writeLocked(id, blob);
    } catch (const std::exception&) {
        try {
            m_ledger.update([&](CustodyLedger::Contents& c) { c.slotAccounts[id] = before->second; });
        } catch (const std::exception&) {
        }
        throw;
    }
    noteSlotAccount(id, account);
}

bool SlotCustodian::storeOrHold(const Uuid& id, const std::string& blob,
                                const std::optional<std::string>& account) {
    const CustodyLock custody(m_dataDir);
    const auto lane = laneOf(id);
    const std::lock_guard turn(lane->mutex);
    const bool stored = storeOrHoldLocked(id, blob) && !isRemoved(id);
    if (stored)
        noteSlotAccount(id, account);
    return stored;
}

void SlotCustodian::noteSlotAccount(const Uuid& id, const std::optional<std::string>& account) {
    if (isRemoved(id))
        return;
    try {
        m_ledger.update([&](CustodyLedger::Contents& c) {
            if (!c.removed.contains(id))
                c.slotAccounts[id] = account;
        });
    } catch (const std::exception&) {
        // what was named before stays: a switch to the profile waits for a capture
    }
}

bool SlotCustodian::slotIsOf(const Uuid& id, const std::optional<std::string>& account) const {
    const auto slots = m_ledger.read().slotAccounts;
    const auto it = slots.find(id);
    return it == slots.end() || it->second == account;
}

void SlotCustodian::remove(const Uuid& id) {
    const CustodyLock custody(m_dataDir);
    const auto lane = laneOf(id);
    const std::lock_guard turn(lane->mutex);
    {
        const std::lock_guard lock(m_mutex);
        m_removed.insert(id);
        m_held.erase(id);
    }
    // Named in the ledger first: a deletion the secret store refuses (or a crash) is retried.
    const Instant now = m_services.clock.now();
    try {
        m_ledger.update([&](CustodyLedger::Contents& c) {
            std::erase_if(c.pending, [&](const auto& p) { return p.id == id; });
            c.pending.push_back({id, false, now});
            c.removed[id] = now;
            c.slotAccounts.erase(id);
        });
    } catch (const Error&) {
    }
    ProfileSlotStore::remove(m_services.secrets, id); // throws when refused: stays pending
    try {
        m_ledger.update([&](CustodyLedger::Contents& c) {
            std::erase_if(c.pending, [&](const auto& p) { return p.id == id; });
        });
    } catch (const Error&) {
    }
}

void SlotCustodian::enrolling(const Uuid& id) {
    const Instant now = m_services.clock.now();
    m_ledger.update([&](CustodyLedger::Contents& c) {
        if (std::none_of(c.pending.begin(), c.pending.end(), [&](const auto& p) { return p.id == id; }))
            c.pending.push_back({id, true, now});
    });
}

void SlotCustodian::settlePending(const std::vector<ProfileConfig>& profiles) {
    const std::vector<CustodyLedger::Pending> pending = m_ledger.read().pending;
    if (pending.empty())
        return;
    const CustodyLock custody(m_dataDir);
    const Instant now = m_services.clock.now();
    std::vector<Uuid> settled;
    for (const CustodyLedger::Pending& p : pending) {
        const bool saved = std::any_of(profiles.begin(), profiles.end(),
                                       [&](const ProfileConfig& profile) { return profile.id == p.id; });
        if (p.enrolment && saved) {
            settled.push_back(p.id); // its profile was saved: the slot is its own
            continue;
        }
        if (saved || (p.enrolment && p.since > now - kEnrolmentSettles))
            continue; // an enrolment may still be saved; a profile added back keeps its slot
        const auto lane = laneOf(p.id);
        const std::lock_guard turn(lane->mutex);
        try {
            ProfileSlotStore::remove(m_services.secrets, p.id);
            settled.push_back(p.id);
        } catch (const Error&) {
        }
    }
    if (!settled.empty())
        m_ledger.update([&](CustodyLedger::Contents& c) {
            std::erase_if(c.pending, [&](const auto& p) {
                return std::find(settled.begin(), settled.end(), p.id) != settled.end();
            });
            for (const CustodyLedger::Pending& p : pending)
                if (p.enrolment && std::find(settled.begin(), settled.end(), p.id) != settled.end() &&
                    std::none_of(profiles.begin(), profiles.end(),
                                 [&](const ProfileConfig& profile) { return profile.id == p.id; }))
                    c.slotAccounts.erase(p.id); // an enrolment never saved: its slot is gone
        });
}

std::size_t SlotCustodian::flushHeld() {
    std::vector<Uuid> ids;
    {
        const std::lock_guard lock(m_mutex);
        for (const auto& [id, held] : m_held)
            ids.push_back(id);
    }
    if (ids.empty())
        return 0;
    try {
        const CustodyLock custody(m_dataDir);
        for (const Uuid& id : ids) {
            const auto lane = laneOf(id);
            const std::lock_guard turn(lane->mutex);
            writeHeldLocked(id);
        }
    } catch (const Error&) {
    }
    const std::lock_guard lock(m_mutex);
    return m_held.size();
}

void SlotCustodian::noteLive(const std::string& blob, const std::optional<std::string>& account) {
    const Instant now = m_services.clock.now();
    try {
        m_ledger.update([&](CustodyLedger::Contents& c) {
            // claude is on this account now: another account's tokens are let go, once the sessions
            // that may still hold them have had their time.
            if (account)
                for (auto& [key, t] : c.tokens)
                    if (t.account && t.account != account)
                        letGo(t);
            hold(c, blob, account, now);
            // Another login of this account that claude had was renewed by claude since (or replaced
            // by a new login): a slot still holding it must not hand it out again. Only while the
            // blob is still the live one: a caller may pass one read a while ago.
            const auto credentials = credentialsOf(blob);
            if (!account || !credentials || !credentials->refreshToken || readLive(m_services).blob != blob)
                return;
            const std::string live = CustodyLedger::fingerprint(*credentials->refreshToken);
            for (auto& [key, t] : c.tokens)
                if (key != live && t.state == State::claudes && t.account == account)
                    t = entry(State::spent, now);
        });
    } catch (const Error&) {
        // Nothing is renewed while the ledger cannot be written, so nothing is lost by this.
    }
}

void SlotCustodian::handedToClaude(const std::string& blob, const std::optional<std::string>& account,
                                   const std::optional<Uuid>& switchingTo) {
    const Instant now = m_services.clock.now();
    m_ledger.update([&](CustodyLedger::Contents& c) {
        for (auto& [key, t] : c.tokens)
            letGo(t);
        hold(c, blob, account, now);
        if (switchingTo) {
            const auto credentials = credentialsOf(blob);
            const std::string token = credentials && credentials->refreshToken
                                          ? CustodyLedger::fingerprint(*credentials->refreshToken)
                                          : std::string();
            c.switching = CustodyLedger::Switch{*switchingTo, token, now};
        }
    });
}

ResolvedCredentials SlotCustodian::grant(const ResolvedCredentials& resolved) {
    if (!resolved.credentials.refreshToken)
        return CredentialResolver::renew(m_services, resolved); // refused without being sent
    // One exchange per refresh token, whichever slots hold it (a capture may have put one login
    // into two profiles): the first slot's renewal or refusal is every other slot's too.
    const std::string key = CustodyLedger::fingerprint(*resolved.credentials.refreshToken);
    std::optional<Spent> spent;
    std::optional<Instant> notBefore;
    {
        const std::lock_guard lock(m_mutex);
        if (const auto it = m_spent.find(key); it != m_spent.end())
            spent = it->second;
        if (const auto it = m_notBefore.find(key); it != m_notBefore.end())
            notBefore = it->second;
    }
    if (spent && spent->refusal)
        throw *spent->refusal;
    if (spent && spent->renewed) {
        // That renewal is handed out while it is still no one's but the slots': claude may have
        // been given it since, or it may have been renewed in turn.
        ResolvedCredentials renewed{CredentialsProvider::parse(*spent->renewed, "ulmet slot (refreshed)"),
                                    *spent->renewed, CredSource::slot};
        if (renewed.credentials.refreshToken && isClaudes(*renewed.credentials.refreshToken))
            throw ResolveError::claudeRenews();
        if (spentBefore(renewed))
            throw ResolveError::refreshFailed(TR("このトークンは既に更新に使われています"),
                                              ResolveError::Spend::refused);
        return renewed;
    }
    const Instant now = m_services.clock.now();
    if (notBefore && now < *notBefore)
        throw ResolveError::refreshFailed(TR("レート制限 (429) · 再試行待ち"), ResolveError::Spend::notSpent);

    // Sent at most once, whichever process sends it: named as sent, on disk, before it leaves.
    std::optional<State> recorded;
    try {
        m_ledger.update([&](CustodyLedger::Contents& c) {
            if (const auto it = c.tokens.find(key);
                it != c.tokens.end() && it->second.state != State::claudes) {
                recorded = it->second.state;
                return;
            }
            c.tokens[key] = entry(State::unknown, now);
        });
    } catch (const Error& e) {
        throw ResolveError::refreshFailed(e.description(), ResolveError::Spend::notSpent);
    }
    if (recorded == State::spent)
        throw ResolveError::refreshFailed(TR("このトークンは既に更新に使われています"),
                                          ResolveError::Spend::refused);
    if (recorded == State::unknown)
        throw ResolveError::refreshFailed(
            TR("以前の更新の結果が分からないため、このトークンはもう送りません"),
            ResolveError::Spend::refused);

    const auto settle = [&](std::optional<State> state) {
        try {
            m_ledger.update([&](CustodyLedger::Contents& c) {
                if (state)
                    c.tokens[key] = entry(*state, m_services.clock.now());
                else
                    c.tokens.erase(key);
            });
        } catch (const Error&) {
            // Left as sent without a clear answer: never sent again, which is the safe side.
        }
    };
    try {
        ResolvedCredentials renewed = CredentialResolver::renew(m_services, resolved);
        if (renewed.credentials.refreshToken == resolved.credentials.refreshToken) {
            settle(std::nullopt); // the endpoint kept the refresh token: it is still good
            return renewed;
        }
        remember(key, Spent{renewed.raw, std::nullopt});
        settle(State::spent);
        return renewed;
    } catch (const ResolveError& e) {
        switch (e.spend()) {
        case ResolveError::Spend::refused:
            remember(key, Spent{std::nullopt, e});
            settle(State::spent);
            break;
        case ResolveError::Spend::notSpent: {
            settle(std::nullopt);
            const double wait = std::clamp(e.retryAfter().value_or(0.0), 0.0, 24.0 * 3600);
            if (wait > 0) {
                const std::lock_guard lock(m_mutex);
                m_notBefore[key] = now + std::chrono::seconds(static_cast<long long>(std::ceil(wait)));
            }
            break;
        }
        case ResolveError::Spend::unknown:
            break; // stays named as sent
        }
        throw;
    }
}

void SlotCustodian::remember(const std::string& key, Spent spent) {
    const std::lock_guard lock(m_mutex);
    m_notBefore.erase(key);
    m_spent.insert_or_assign(key, std::move(spent));
    if (!m_spent.at(key).renewed)
        return;
    // Renewed blobs are kept for the latest renewals only; older ones leave their refusal-free
    // entry, and the ledger says the token is spent.
    m_recentGrants.push_back(key);
    if (m_recentGrants.size() > kKeptGrants) {
        m_spent.erase(m_recentGrants.front());
        m_recentGrants.pop_front();
    }
}

bool SlotCustodian::isClaudes(const std::string& refreshToken) {
    const Instant now = m_services.clock.now();
    const CustodyLedger::Contents c = m_ledger.read();
    const auto it = c.tokens.find(CustodyLedger::fingerprint(refreshToken));
    if (it == c.tokens.end() || it->second.state != State::claudes)
        return false;
    return !(it->second.until && now >= *it->second.until); // switched out long enough ago: ours
}

bool SlotCustodian::spentBefore(const ResolvedCredentials& resolved) {
    if (resolved.source != CredSource::slot || !resolved.credentials.refreshToken)
        return false;
    const std::string key = CustodyLedger::fingerprint(*resolved.credentials.refreshToken);
    {
        const std::lock_guard lock(m_mutex);
        if (m_spent.contains(key))
            return true;
    }
    const CustodyLedger::Contents c = m_ledger.read();
    const auto it = c.tokens.find(key);
    return it != c.tokens.end() && it->second.state != State::claudes;
}

SlotCustodian::ForUse SlotCustodian::credentialsFor(const ProfileConfig& profile) {
    // A slot whose refresh token was spent (by a renewal here or elsewhere, or by claude) is
    // renewed now whatever its expiry: its login must not be used on, nor written live by a switch.
    const auto renewNow = [&](const ResolvedCredentials& resolved) {
        return CredentialResolver::needsRenewal(resolved, m_services.clock.now()) || spentBefore(resolved);
    };
    {
        const auto lane = laneOf(profile.id);
        const std::lock_guard turn(lane->mutex);
        const std::optional<std::string> held = heldOf(profile.id);
        ForUse use{CredentialResolver::resolve(m_services, profile, false, held)};
        if (!held && !renewNow(use.resolved))
            return use;
    }
    // A renewal, or a held copy to write: the custody lock first (another process may be renewing
    // the same slot, or switching), then the slot's turn, and everything read again under both.
    // A caller that waited finds the renewal of the one before.
    const CustodyLock custody(m_dataDir);
    const auto lane = laneOf(profile.id);
    const std::lock_guard turn(lane->mutex);
    writeHeldLocked(profile.id);
    ForUse use{CredentialResolver::resolve(m_services, profile, false, heldOf(profile.id))};
    if (!renewNow(use.resolved))
        return use;
    if (!m_ledger.sound()) // what it knew of this token is not known now
        throw ResolveError::refreshFailed(m_ledger.damaged().description(), ResolveError::Spend::notSpent);

    // The refresh token may be claude's: the live login's own, or one handed to claude.
    if (const auto& refresh = use.resolved.credentials.refreshToken) {
        const Live live = readLive(m_services);
        if (live.unreadable)
            throw ResolveError::claudeRenews(); // whose token claude holds cannot be told now
        if (live.blob) {
            noteLive(*live.blob, std::nullopt);
            if (live.credentials->refreshToken == refresh) {
                use.resolved = ResolvedCredentials{*live.credentials, *live.blob, CredSource::activeItem};
                use.claudes = true;
                return use;
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
