#include "store/AccountOperations.h"

#include "store/AutoSwitch.h"
#include "store/RefreshCycle.h"
#include "store/UsageStore.h"

#include "base/PlatformWords.h"
#include "claude/AccountSteps.h"
#include "claude/ProfileSlotStore.h"
#include "claude/SlotCustodian.h"
#include "secrets/SecretStore.h"

#include <QCoreApplication>
#include <QCoro/QCoroFuture>

#include <algorithm>

namespace {

std::string localPart(const std::string& email) {
    return email.substr(0, email.find('@'));
}

} // namespace

AccountOperations::AccountOperations(UsageStore& store)
    : m_store(store) {}

QCoro::Task<> AccountOperations::connectKeychain() {
    // Said connected only when a secret store answers: many desktops run none.
    const auto alive = m_store.m_alive;
    auto probe = m_store.m_jobs->run([services = m_store.m_deps.services] {
        return services.secrets.read(ProfileSlotStore::service, std::nullopt).status;
    });
    const int status = co_await probe;
    if (!*alive)
        co_return;
    if (status == SecretStatus::notAvailable) {
        m_store.setLastActionMessage(
            QCoreApplication::translate(
                "UsageStore",
                "このデスクトップではキーリング（Secret Service）が動いていないため、接続できません。"
                "GNOME Keyring、KeePassXC（Secret Service 連携を有効にして）、KWallet のどれかを起動して"
                "から、もう一度「接続」してください")
                .toStdString());
        co_return;
    }
    m_store.m_config.keychainConnected = true;
    emit m_store.configChanged();
    m_store.saveNow();
    m_store.setLastActionMessage(std::string(PlatformWords::current.connectedMessage));
    co_await m_store.m_cycle->refreshAfterChange();
}

void AccountOperations::disconnectKeychain() {
    m_store.m_config.keychainConnected = false;
    emit m_store.configChanged();
    m_store.saveNow();
    m_store.setLiveEmail(std::nullopt);
    m_store.setLastActionMessage(std::string(PlatformWords::current.disconnectedMessage));
}

QCoro::Task<> AccountOperations::enrollDetectedAccount() {
    const auto alive = m_store.m_alive;
    {
        // The pending account is read once the turn is ours: a second click finds it enrolled.
        const OperationLane::Turn turn = co_await m_store.m_lane.take();
        if (!*alive || !m_store.m_pendingEnrollEmail || !m_store.m_pendingEnrollRaw)
            co_return;
        const std::string email = *m_store.m_pendingEnrollEmail;
        const std::string blob = *m_store.m_pendingEnrollRaw;

        // A placeholder profile (Claude, no address, no slot) takes the account.
        std::vector<ProfileConfig> placeholders;
        for (const ProfileConfig& p : m_store.m_config.profiles)
            if (p.provider == Provider::claude && !p.accountEmail)
                placeholders.push_back(p);
        const Uuid newProfile = Uuid::random();
        auto enrol = m_store.m_jobs->run([services = m_store.m_deps.services, custodian = m_store.m_slots,
                                          placeholders, newProfile, blob, email] {
            return AccountSteps::enrol(services, *custodian, placeholders, newProfile, blob, email);
        });
        const AccountSteps::Enrolment enrolled = co_await enrol;
        if (!*alive)
            co_return;
        if (!enrolled.enrolled) {
            m_store.setLastActionMessage(enrolled.message);
            m_store.m_enrolFailure = enrolled.message;
            co_return;
        }
        Uuid targetId = newProfile;
        if (enrolled.reused) {
            ProfileConfig* p = m_store.findProfile(*enrolled.reused);
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
            added.colorName = std::string(palette[m_store.m_config.profiles.size() % palette.size()].name);
            added.accountEmail = email;
            added.provider = Provider::claude;
            m_store.m_config.profiles.push_back(std::move(added));
        }
        if (enrolled.identity)
            m_store.findProfile(targetId)->accountIdentity = enrolled.identity;
        m_store.m_config.activeProfileID = targetId;
        m_store.m_config.keychainConnected = true;
        ++m_store.m_liveChanges;
        emit m_store.configChanged();
        m_store.setEmail(targetId, email);
        m_store.setLiveEmail(email);
        m_store.saveNow();
        m_store.setPendingEnroll(std::nullopt, std::nullopt);
        m_store.setLastActionMessage(enrolled.message);
    }
    m_store.startPolling();
    co_await m_store.m_cycle->refreshAfterChange();
}

QCoro::Task<> AccountOperations::captureActive(ProfileConfig profile) {
    const auto alive = m_store.m_alive;
    // The account the person saw logged in: a login claude changed to since is not taken.
    const std::optional<std::string> expected = m_store.m_liveEmail;
    {
        const OperationLane::Turn turn = co_await m_store.m_lane.take();
        if (!*alive)
            co_return;
        auto capture = m_store.m_jobs->run(
            [services = m_store.m_deps.services, custodian = m_store.m_slots, profile, expected] {
                return AccountSteps::capture(services, *custodian, profile, expected);
            });
        const AccountSteps::Capture captured = co_await capture;
        if (!*alive)
            co_return;
        m_store.setLastActionMessage(captured.message);
        if (!captured.captured) {
            if (captured.email && captured.email != expected)
                m_store.setLiveEmail(captured.email); // what the person sees is claude's login now
            co_return;
        }
        if (ProfileConfig* p = m_store.findProfile(profile.id)) {
            if (p->accountEmail != captured.email)
                m_store.removeStatus(p->id);  // another account's reading is not this one's
            p->accountEmail = captured.email; // none clears an earlier address
            p->accountIdentity = captured.identity;
        }
        m_store.m_config.activeProfileID = profile.id;
        m_store.m_config.keychainConnected = true;
        ++m_store.m_liveChanges;
        emit m_store.configChanged();
        m_store.saveNow();
        m_store.setEmail(profile.id, std::nullopt);
        m_store.setLiveEmail(captured.email);
    }
    co_await m_store.m_cycle->refreshAfterChange();
}

QCoro::Task<> AccountOperations::switchTo(ProfileConfig target) {
    const auto alive = m_store.m_alive;
    const SwitchOutcome outcome = co_await switchProfile(std::move(target));
    if (*alive && outcome.switched)
        co_await m_store.m_cycle->refreshAfterChange();
}

QCoro::Task<UsageStore::SwitchOutcome> AccountOperations::switchProfile(ProfileConfig target) {
    const auto alive = m_store.m_alive;
    const OperationLane::Turn turn = co_await m_store.m_lane.take();
    if (!*alive)
        co_return SwitchOutcome{
            false, QCoreApplication::translate("UsageStore", "MeterKeeper が終了するため切替えませんでした")
                       .toStdString()};
    // The profile as it is now: it may have been captured or edited while this click waited.
    if (const ProfileConfig* current = m_store.findProfile(target.id))
        target = *current;
    const Uuid chosen = target.id;
    const bool switched = co_await switchSteps(std::move(target));
    if (switched && *alive)
        m_store.m_autoSwitch->personChose(chosen);
    if (!*alive)
        co_return SwitchOutcome{
            false, QCoreApplication::translate("UsageStore", "MeterKeeper が終了するため切替えませんでした")
                       .toStdString()};
    co_return SwitchOutcome{switched, m_store.m_lastActionMessage.value_or("")};
}

QCoro::Task<bool> AccountOperations::switchSteps(ProfileConfig target) {
    const auto alive = m_store.m_alive;
    auto switchLogin = m_store.m_jobs->run([services = m_store.m_deps.services, custodian = m_store.m_slots,
                                            profiles = m_store.m_config.profiles, target] {
        return AccountSteps::switchTo(services, *custodian, profiles, target);
    });
    const AccountSteps::Switch result = co_await switchLogin;
    if (!*alive)
        co_return false;
    if (result.outgoingIdentity)
        learnIdentity(*result.outgoingIdentity);
    if (result.liveChanged)
        ++m_store.m_liveChanges;
    if (result.switched) {
        if (m_store.findProfile(target.id)) { // not a profile the user removed meanwhile
            m_store.m_config.activeProfileID = target.id;
            emit m_store.configChanged();
            m_store.saveNow();
        }
        m_store.setLiveEmail(target.accountEmail);
    }
    m_store.setLastActionMessage(result.message);
    co_return result.switched;
}

void AccountOperations::learnIdentity(const AccountSteps::Identity& learned) {
    if (ProfileConfig* p = m_store.findProfile(learned.profile); p && p->accountIdentity != learned.blob) {
        p->accountIdentity = learned.blob;
        emit m_store.configChanged();
    }
}

void AccountOperations::addProfile(Provider provider) {
    const std::size_t n = m_store.m_config.profiles.size();
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
    m_store.m_config.profiles.push_back(std::move(p));
    emit m_store.configChanged();
    m_store.scheduleSave();
}

void AccountOperations::removeProfile(const Uuid& id) {
    std::erase_if(m_store.m_config.profiles, [&](const ProfileConfig& p) { return p.id == id; });
    // The slot goes off the main thread; a renewal or copy under way never writes it again.
    m_store.m_jobs->run([custodian = m_store.m_slots, id] {
        try {
            custodian->remove(id);
        } catch (const std::exception&) {
            // kept in the ledger: deleted again at the next cycle
        }
    });
    m_store.forgetProfile(id);
    if (m_store.m_config.activeProfileID == id)
        m_store.m_config.activeProfileID.reset();
    emit m_store.configChanged();
    m_store.saveNow(); // its slot is going: a profile come back at the next start would have none
}

void AccountOperations::moveProfile(const Uuid& id, int by) {
    auto& profiles = m_store.m_config.profiles;
    const auto it =
        std::find_if(profiles.begin(), profiles.end(), [&](const ProfileConfig& p) { return p.id == id; });
    if (it == profiles.end())
        return;
    const long long i = it - profiles.begin();
    const long long j = i + by;
    if (j < 0 || j >= static_cast<long long>(profiles.size()))
        return;
    std::swap(profiles[static_cast<std::size_t>(i)], profiles[static_cast<std::size_t>(j)]);
    emit m_store.configChanged();
    m_store.saveNow();
}

void AccountOperations::moveProfile(const Uuid& id, const Uuid& before) {
    if (id == before)
        return;
    auto& profiles = m_store.m_config.profiles;
    const auto it =
        std::find_if(profiles.begin(), profiles.end(), [&](const ProfileConfig& p) { return p.id == id; });
    if (it == profiles.end())
        return;
    ProfileConfig moved = std::move(*it);
    profiles.erase(it);
    const auto at = std::find_if(profiles.begin(), profiles.end(),
                                 [&](const ProfileConfig& p) { return p.id == before; });
    profiles.insert(at, std::move(moved));
    emit m_store.configChanged();
}

bool AccountOperations::isDuplicateProfile(const ProfileConfig& profile) const {
    auto addressOf = [&](const ProfileConfig& p) -> std::optional<std::string> {
        if (p.accountEmail)
            return p.accountEmail;
        const ProfileState* state = m_store.state(p.id);
        return state ? state->email : std::nullopt;
    };
    const auto e = addressOf(profile);
    if (!e)
        return false;
    for (const ProfileConfig& p : m_store.m_config.profiles) {
        if (p.id == profile.id)
            return false;
        if (addressOf(p) == e)
            return true;
    }
    return false;
}
