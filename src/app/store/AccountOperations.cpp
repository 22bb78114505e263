// The user's account operations: connecting the secret store, enrolment, capture, switch, and the
// profile list's edits.
#include "store/UsageStore.h"

#include "base/PlatformWords.h"
#include "claude/AccountSteps.h"
#include "claude/SlotCustodian.h"

#include <QCoro/QCoroFuture>

#include <algorithm>

namespace {

std::string localPart(const std::string& email) {
    return email.substr(0, email.find('@'));
}

} // namespace

QCoro::Task<> UsageStore::connectKeychain() {
    userEdited();
    m_config.keychainConnected = true;
    emit configChanged();
    saveNow();
    setLastActionMessage(std::string(PlatformWords::current.connectedMessage));
    co_await refreshAll();
}

void UsageStore::disconnectKeychain() {
    userEdited();
    m_config.keychainConnected = false;
    emit configChanged();
    saveNow();
    setLiveEmail(std::nullopt);
    setLastActionMessage(std::string(PlatformWords::current.disconnectedMessage));
}

QCoro::Task<> UsageStore::enrollDetectedAccount() {
    const auto alive = m_alive;
    {
        // The pending account is read once the turn is ours: a second click finds it enrolled.
        const OperationLane::Turn turn = co_await m_lane.take();
        if (!*alive || !m_pendingEnrollEmail || !m_pendingEnrollRaw)
            co_return;
        userEdited();
        const std::string email = *m_pendingEnrollEmail;
        const std::string blob = *m_pendingEnrollRaw;

        // A placeholder profile (Claude, no address, no slot) takes the account.
        std::vector<ProfileConfig> placeholders;
        for (const ProfileConfig& p : m_config.profiles)
            if (p.provider == Provider::claude && !p.accountEmail)
                placeholders.push_back(p);
        const Uuid newProfile = Uuid::random();
        auto enrol = m_jobs->run(
            [services = m_deps.services, custodian = m_slots, placeholders, newProfile, blob, email] {
                return AccountSteps::enrol(services, *custodian, placeholders, newProfile, blob, email);
            });
        const AccountSteps::Enrolment enrolled = co_await enrol;
        if (!*alive)
            co_return;
        if (!enrolled.enrolled) {
            setLastActionMessage(enrolled.message);
            co_return;
        }
        Uuid targetId = newProfile;
        if (enrolled.reused) {
            ProfileConfig* p = findProfile(*enrolled.reused);
            if (!p)
                co_return; // removed by the user meanwhile: the account stays on offer
            p->accountEmail = email;
            if (p->name.starts_with("account"))
                p->name = localPart(email);
            targetId = p->id;
        } else {
            ProfileConfig added;
            added.id = newProfile;
            added.name = localPart(email);
            added.configDir = "~/.claude";
            const auto palette = ColorPalette::all();
            added.colorName = std::string(palette[m_config.profiles.size() % palette.size()].name);
            added.accountEmail = email;
            added.provider = Provider::claude;
            m_config.profiles.push_back(std::move(added));
        }
        if (enrolled.identity)
            findProfile(targetId)->accountIdentity = enrolled.identity;
        m_config.activeProfileID = targetId;
        m_config.keychainConnected = true;
        ++m_liveChanges;
        emit configChanged();
        setEmail(targetId, email);
        setLiveEmail(email);
        saveNow();
        setPendingEnroll(std::nullopt, std::nullopt);
        setLastActionMessage(enrolled.message);
    }
    startPolling();
    co_await refreshAll();
}

QCoro::Task<> UsageStore::captureActive(ProfileConfig profile) {
    const auto alive = m_alive;
    {
        const OperationLane::Turn turn = co_await m_lane.take();
        if (!*alive)
            co_return;
        userEdited();
        auto capture = m_jobs->run([services = m_deps.services, custodian = m_slots, profile] {
            return AccountSteps::capture(services, *custodian, profile);
        });
        const AccountSteps::Capture captured = co_await capture;
        if (!*alive)
            co_return;
        setLastActionMessage(captured.message);
        if (!captured.captured)
            co_return;
        if (ProfileConfig* p = findProfile(profile.id)) {
            p->accountEmail = captured.email; // none clears an earlier address
            p->accountIdentity = captured.identity;
        }
        m_config.activeProfileID = profile.id;
        m_config.keychainConnected = true;
        ++m_liveChanges;
        emit configChanged();
        saveNow();
        setEmail(profile.id, std::nullopt);
        setLiveEmail(captured.email);
    }
    co_await refreshAll();
}

QCoro::Task<> UsageStore::switchTo(ProfileConfig target) {
    const auto alive = m_alive;
    const SwitchOutcome outcome = co_await switchProfile(std::move(target));
    if (*alive && outcome.switched)
        co_await refreshAll();
}

QCoro::Task<UsageStore::SwitchOutcome> UsageStore::switchProfile(ProfileConfig target) {
    const auto alive = m_alive;
    const OperationLane::Turn turn = co_await m_lane.take();
    if (!*alive)
        co_return SwitchOutcome{false, tr("MeterKeeper が終了するため切替えませんでした").toStdString()};
    // The profile as it is now: it may have been captured or edited while this click waited.
    if (const ProfileConfig* current = findProfile(target.id))
        target = *current;
    userEdited();
    const bool switched = co_await switchSteps(std::move(target));
    if (!*alive)
        co_return SwitchOutcome{false, tr("MeterKeeper が終了するため切替えませんでした").toStdString()};
    co_return SwitchOutcome{switched, m_lastActionMessage.value_or("")};
}

QCoro::Task<bool> UsageStore::switchSteps(ProfileConfig target) {
    const auto alive = m_alive;
    auto switchLogin =
        m_jobs->run([services = m_deps.services, custodian = m_slots, profiles = m_config.profiles, target] {
            return AccountSteps::switchTo(services, *custodian, profiles, target);
        });
    const AccountSteps::Switch result = co_await switchLogin;
    if (!*alive)
        co_return false;
    if (result.outgoingIdentity)
        learnIdentity(*result.outgoingIdentity);
    if (result.liveChanged)
        ++m_liveChanges;
    if (result.switched) {
        if (findProfile(target.id)) { // not a profile the user removed meanwhile
            m_config.activeProfileID = target.id;
            emit configChanged();
            saveNow();
        }
        setLiveEmail(target.accountEmail);
    }
    setLastActionMessage(result.message);
    co_return result.switched;
}

void UsageStore::addProfile(Provider provider) {
    userEdited();
    const std::size_t n = m_config.profiles.size();
    ProfileConfig p;
    if (provider == Provider::codex) {
        p.name = "Codex";
        p.configDir = "~/.codex";
    } else {
        p.name = "account" + std::to_string(n + 1);
        p.configDir = "~/.claude";
    }
    const auto palette = ColorPalette::all();
    p.colorName = std::string(palette[n % palette.size()].name);
    p.provider = provider;
    m_config.profiles.push_back(std::move(p));
    emit configChanged();
    scheduleSave();
}

void UsageStore::removeProfile(const Uuid& id) {
    userEdited();
    std::erase_if(m_config.profiles, [&](const ProfileConfig& p) { return p.id == id; });
    // The slot goes off the main thread; a renewal or copy under way never writes it again.
    m_jobs->run([custodian = m_slots, id] { custodian->remove(id); });
    removeStatus(id);
    setEmail(id, std::nullopt);
    if (m_slotPresence.erase(id))
        emit slotPresenceChanged();
    if (m_config.activeProfileID == id)
        m_config.activeProfileID.reset();
    emit configChanged();
    scheduleSave();
}

void UsageStore::moveProfile(const Uuid& id, int by) {
    userEdited();
    auto& profiles = m_config.profiles;
    const auto it =
        std::find_if(profiles.begin(), profiles.end(), [&](const ProfileConfig& p) { return p.id == id; });
    if (it == profiles.end())
        return;
    const long long i = it - profiles.begin();
    const long long j = i + by;
    if (j < 0 || j >= static_cast<long long>(profiles.size()))
        return;
    std::swap(profiles[static_cast<std::size_t>(i)], profiles[static_cast<std::size_t>(j)]);
    emit configChanged();
    saveNow();
}

void UsageStore::moveProfile(const Uuid& id, const Uuid& before) {
    userEdited();
    if (id == before)
        return;
    auto& profiles = m_config.profiles;
    const auto it =
        std::find_if(profiles.begin(), profiles.end(), [&](const ProfileConfig& p) { return p.id == id; });
    if (it == profiles.end())
        return;
    ProfileConfig moved = std::move(*it);
    profiles.erase(it);
    const auto at = std::find_if(profiles.begin(), profiles.end(),
                                 [&](const ProfileConfig& p) { return p.id == before; });
    profiles.insert(at, std::move(moved));
    emit configChanged();
}

bool UsageStore::isDuplicateProfile(const ProfileConfig& profile) const {
    auto addressOf = [&](const ProfileConfig& p) -> std::optional<std::string> {
        if (p.accountEmail)
            return p.accountEmail;
        if (const auto it = m_emails.find(p.id); it != m_emails.end())
            return it->second;
        return std::nullopt;
    };
    const auto e = addressOf(profile);
    if (!e)
        return false;
    for (const ProfileConfig& p : m_config.profiles) {
        if (p.id == profile.id)
            return false;
        if (addressOf(p) == e)
            return true;
    }
    return false;
}
