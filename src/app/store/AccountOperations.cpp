// The user's account operations: connecting the secret store, enrolment, capture, switch, and the
// profile list's edits.
#include "store/UsageStore.h"

#include "base/PlatformWords.h"
#include "claude/ActiveCredentialStore.h"
#include "claude/ClaudeAppState.h"
#include "claude/SlotCustodian.h"
#include "store/StoreSteps.h"
#include "usage/AnthropicAPI.h"

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
    const Services services = m_deps.services;
    const auto custodian = m_slots;
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
        auto firstWithoutSlot = m_jobs->run([custodian, placeholders]() -> std::optional<Uuid> {
            for (const ProfileConfig& p : placeholders)
                if (!custodian->has(p.id))
                    return p.id;
            return std::nullopt;
        });
        const std::optional<Uuid> reuse = co_await firstWithoutSlot;
        if (!*alive)
            co_return;

        Uuid targetId;
        if (ProfileConfig* p = reuse ? findProfile(*reuse) : nullptr) {
            p->accountEmail = email;
            if (p->name.starts_with("account"))
                p->name = localPart(email);
            targetId = p->id;
        } else {
            ProfileConfig added;
            added.name = localPart(email);
            added.configDir = "~/.claude";
            const auto palette = ColorPalette::all();
            added.colorName = std::string(palette[m_config.profiles.size() % palette.size()].name);
            added.accountEmail = email;
            added.provider = Provider::claude;
            targetId = added.id;
            m_config.profiles.push_back(std::move(added));
        }
        emit configChanged();

        struct Stored {
            std::optional<std::string> error;
            std::optional<std::string> identity;
        };
        auto storeInSlot = m_jobs->run([services, custodian, targetId, blob]() {
            Stored s;
            try {
                custodian->store(targetId, blob);
            } catch (const std::exception& e) {
                s.error = e.what();
                return s;
            }
            s.identity = ClaudeAppState::readIdentity(services.home);
            return s;
        });
        const Stored stored = co_await storeInSlot;
        if (!*alive)
            co_return;
        if (stored.error) {
            setLastActionMessage(tr("登録失敗: %1").arg(QString::fromStdString(*stored.error)).toStdString());
            co_return;
        }
        ProfileConfig* target = findProfile(targetId);
        if (!target)
            co_return; // removed by the user meanwhile: the account stays on offer
        if (StoreSteps::identityOf(stored.identity, email))
            target->accountIdentity = stored.identity;
        m_config.activeProfileID = targetId;
        m_config.keychainConnected = true;
        ++m_liveChanges;
        emit configChanged();
        setEmail(targetId, email);
        saveNow();
        setPendingEnroll(std::nullopt, std::nullopt);
        setLastActionMessage(tr("「%1」を登録しました").arg(QString::fromStdString(email)).toStdString());
    }
    startPolling();
    co_await refreshAll();
}

QCoro::Task<> UsageStore::captureActive(ProfileConfig profile) {
    const auto alive = m_alive;
    const Services services = m_deps.services;
    {
        const OperationLane::Turn turn = co_await m_lane.take();
        if (!*alive)
            co_return;
        userEdited();
        struct Captured {
            std::optional<std::string> error;
            std::optional<std::string> email;
            std::optional<std::string> identity;
        };
        auto captureLiveLogin = m_jobs->run([services, custodian = m_slots, profile]() {
            Captured c;
            try {
                const std::string blob = ActiveCredentialStore::read(services.secrets, services.home);
                const OAuthCredentials credentials = CredentialsProvider::parse(blob, "active");
                custodian->store(profile.id, blob);
                c.email = AnthropicAPI::profileEmail(services.http, credentials.accessToken);
                custodian->noteLive(blob, c.email);
                c.identity = ClaudeAppState::readIdentity(services.home);
            } catch (const std::exception& e) {
                c.error = e.what();
            }
            return c;
        });
        const Captured captured = co_await captureLiveLogin;
        if (!*alive)
            co_return;
        if (captured.error) {
            setLastActionMessage(
                tr("取り込み失敗: %1").arg(QString::fromStdString(*captured.error)).toStdString());
            co_return;
        }
        if (ProfileConfig* p = findProfile(profile.id)) {
            p->accountEmail = captured.email; // none clears an earlier address
            // Only an identity of the captured account; without a known address none is kept.
            p->accountIdentity =
                StoreSteps::identityOf(captured.identity, captured.email) ? captured.identity : std::nullopt;
        }
        m_config.activeProfileID = profile.id;
        m_config.keychainConnected = true;
        ++m_liveChanges;
        emit configChanged();
        saveNow();
        setEmail(profile.id, std::nullopt);
        setLastActionMessage(tr("「%1」に現在のログインを取り込みました")
                                 .arg(QString::fromStdString(profile.name))
                                 .toStdString());
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
    if (target.provider == Provider::codex) {
        setLastActionMessage(
            tr("「%1」は Codex のプロファイルです。切替えられるのは claude のログインだけです")
                .arg(QString::fromStdString(target.name))
                .toStdString());
        co_return false;
    }
    if (!target.accountIdentity) {
        setLastActionMessage(tr("「%1」は識別情報が未取得です。そのアカウントで claude "
                                "にログイン中に「取り込む」を実行してください")
                                 .arg(QString::fromStdString(target.name))
                                 .toStdString());
        co_return false;
    }
    const auto alive = m_alive;
    const Services services = m_deps.services;

    // 3. The outgoing login goes back into the slot of its own profile.
    struct Outgoing {
        std::optional<std::string> blob;
        std::optional<std::string> email;
    };
    auto readOutgoingLogin = m_jobs->run([services, profiles = m_config.profiles]() {
        Outgoing o;
        try {
            o.blob = ActiveCredentialStore::read(services.secrets, services.home);
            const OAuthCredentials credentials = CredentialsProvider::parse(*o.blob, "active");
            o.email = StoreSteps::statusLineAccount(services, profiles);
            if (!o.email)
                o.email = AnthropicAPI::profileEmail(services.http, credentials.accessToken);
        } catch (const std::exception&) {
            o.email.reset();
        }
        return o;
    });
    const Outgoing outgoing = co_await readOutgoingLogin;
    if (!*alive)
        co_return false;
    if (outgoing.blob) // claude's until this switch hands it another login
        m_slots->noteLive(*outgoing.blob, outgoing.email);
    if (outgoing.email) {
        // The identity is the outgoing account's only when claude has written it already. When the
        // outgoing account is the target's own, its slot takes the live login too: that is the
        // account's newest login, and the slot's may have been spent by claude since.
        if (const ProfileConfig* owner = StoreSteps::withEmail(m_config.profiles, outgoing.email))
            if (!co_await storeLiveLogin(owner->id, *outgoing.blob, outgoing.email))
                co_return false;
    }

    // 4-6. The target's credentials become the live login, its identity the live identity. When
    // the identity cannot be written, the previous live credential is put back: a login half
    // switched (one account's token beside another's identity) is worse than none.
    const std::optional<std::string> previousLive = outgoing.blob;
    struct Written {
        std::optional<std::string> error;
        std::optional<std::string> live; // what is now the live login, when this wrote it
    };
    auto makeLive = m_jobs->run([services, custodian = m_slots, target, previousLive]() {
        Written w;
        std::string blob;
        try {
            blob = custodian->credentialsFor(target).resolved.raw;
            ActiveCredentialStore::write(services.secrets, services.home, blob);
        } catch (const std::exception& e) {
            w.error = e.what();
            return w;
        }
        w.live = blob;
        try {
            ClaudeAppState::writeIdentity(services.home, *target.accountIdentity);
        } catch (const std::exception& e) {
            w.error = e.what();
            if (previousLive) {
                try {
                    ActiveCredentialStore::write(services.secrets, services.home, *previousLive);
                    w.live = previousLive;
                } catch (const std::exception&) {
                }
            }
        }
        return w;
    });
    const Written written = co_await makeLive;
    if (!*alive)
        co_return false;
    ++m_liveChanges;
    if (written.live) // from now on these tokens are claude's to renew
        m_slots->handedToClaude(*written.live,
                                written.live == previousLive ? outgoing.email : target.accountEmail);
    if (written.error) {
        setLastActionMessage(tr("切替失敗: %1").arg(QString::fromStdString(*written.error)).toStdString());
        co_return false;
    }
    if (findProfile(target.id)) { // not a profile the user removed meanwhile
        m_config.activeProfileID = target.id;
        emit configChanged();
        saveNow();
    }
    setLastActionMessage(switchedMessage(target.name));
    co_return true;
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
