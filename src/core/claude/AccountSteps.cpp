#include "claude/AccountSteps.h"

#include "claude/ActiveCredentialStore.h"
#include "claude/ClaudeAppState.h"
#include "claude/CredentialsProvider.h"
#include "claude/SlotCustodian.h"
#include "usage/AnthropicAPI.h"

#include <algorithm>
#include <exception>

namespace AccountSteps {

bool identityOf(const std::optional<std::string>& identity, const std::optional<std::string>& email) {
    return identity && email && ClaudeAppState::identityEmail(*identity) == email;
}

const ProfileConfig* withEmail(const std::vector<ProfileConfig>& profiles,
                               const std::optional<std::string>& email) {
    if (!email)
        return nullptr;
    for (const ProfileConfig& p : profiles)
        if (p.accountEmail == email)
            return &p;
    return nullptr;
}

std::optional<std::string> statusLineAccount(const Services& services,
                                             const std::vector<ProfileConfig>& profiles) {
    const auto readFromStatusLine = [](const ProfileConfig& p) {
        return p.usageSource == UsageSource::statusLine;
    };
    if (std::none_of(profiles.begin(), profiles.end(), readFromStatusLine))
        return std::nullopt; // nothing to spare: the state file is not read
    const auto email = ClaudeAppState::readEmail(services.home);
    const ProfileConfig* owner = withEmail(profiles, email);
    return owner && readFromStatusLine(*owner) ? email : std::nullopt;
}

std::optional<std::string> storeLiveLogin(const Services& services, SlotCustodian& custodian, const Uuid& id,
                                          const std::string& blob, const std::optional<std::string>& email) {
    custodian.storeOrHold(id, blob); // held in memory when the secret store refuses it
    auto identity = ClaudeAppState::readIdentity(services.home);
    return identityOf(identity, email) ? identity : std::nullopt;
}

namespace {

struct Outgoing {
    std::optional<std::string> blob;
    std::optional<std::string> email;
};

// claude's live login and its account, when it can be told.
Outgoing readOutgoing(const Services& services, const std::vector<ProfileConfig>& profiles) {
    Outgoing o;
    try {
        o.blob = ActiveCredentialStore::read(services.secrets, services.home);
        const OAuthCredentials credentials = CredentialsProvider::parse(*o.blob, "active");
        o.email = statusLineAccount(services, profiles);
        if (!o.email)
            o.email = AnthropicAPI::profileEmail(services.http, credentials.accessToken);
    } catch (const std::exception&) {
        o.email.reset();
    }
    return o;
}

struct Written {
    std::optional<std::string> error;
    std::optional<std::string> live; // what is now the live login, when this wrote it
};

Written makeLive(const Services& services, SlotCustodian& custodian, const ProfileConfig& target,
                 const std::optional<std::string>& previousLive) {
    Written w;
    std::string blob;
    try {
        const ResolvedCredentials resolved = custodian.credentialsFor(target).resolved;
        // Only a login kept in the profile's slot moves: one that lives in the profile's own file or
        // secret-store item belongs to that claude configuration, and two configurations sharing
        // one single-use refresh token would log each other out.
        if (resolved.source != CredSource::slot) {
            w.error =
                Text::fill(TR("「%1」のログインはそのプロファイル自身のもの（%2）なので、切替えられません。"
                              "切替えられるのは取り込んだログインだけです"),
                           {target.name, resolved.credentials.sourceDescription});
            return w;
        }
        blob = resolved.raw;
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
}

} // namespace

Switch switchTo(const Services& services, SlotCustodian& custodian,
                const std::vector<ProfileConfig>& profiles, const ProfileConfig& target) {
    Switch result;
    if (target.provider == Provider::codex) {
        result.message =
            Text::fill(TR("「%1」は Codex のプロファイルです。切替えられるのは claude のログインだけです"),
                       {target.name});
        return result;
    }
    if (!target.accountIdentity) {
        result.message = Text::fill(TR("「%1」は識別情報が未取得です。そのアカウントで claude "
                                       "にログイン中に「取り込む」を実行してください"),
                                    {target.name});
        return result;
    }

    // The outgoing login goes back into the slot of its own profile. It is claude's until this
    // switch hands it another login. When the outgoing account is the target's own, its slot takes
    // the live login too: that is the account's newest login, and the slot's may have been spent
    // by claude since. The switch stops when that slot refuses it: the login would then exist
    // nowhere but in memory.
    const Outgoing outgoing = readOutgoing(services, profiles);
    if (outgoing.blob)
        custodian.noteLive(*outgoing.blob, outgoing.email);
    if (const ProfileConfig* owner = outgoing.blob ? withEmail(profiles, outgoing.email) : nullptr) {
        try {
            custodian.store(owner->id, *outgoing.blob);
        } catch (const std::exception& e) {
            result.message =
                Text::fill(TR("切替えませんでした: 現在のログインを「%1」に保存できません（%2）"),
                           {owner->name, e.what()});
            return result;
        }
        if (auto identity = ClaudeAppState::readIdentity(services.home); identityOf(identity, outgoing.email))
            result.outgoingIdentity = Identity{owner->id, std::move(*identity)};
    }

    // The target's credentials become the live login, its identity the live identity.
    const Written written = makeLive(services, custodian, target, outgoing.blob);
    result.liveChanged = true;
    if (written.live) // from now on these tokens are claude's to renew
        custodian.handedToClaude(*written.live,
                                 written.live == outgoing.blob ? outgoing.email : target.accountEmail);
    if (written.error) {
        result.message = Text::fill(TR("切替失敗: %1"), {*written.error});
        return result;
    }
    result.switched = true;
    result.message = switchedMessage(target.name);
    return result;
}

Capture capture(const Services& services, SlotCustodian& custodian, const ProfileConfig& profile) {
    Capture result;
    try {
        const std::string blob = ActiveCredentialStore::read(services.secrets, services.home);
        const OAuthCredentials credentials = CredentialsProvider::parse(blob, "active");
        custodian.store(profile.id, blob);
        result.email = AnthropicAPI::profileEmail(services.http, credentials.accessToken);
        custodian.noteLive(blob, result.email);
        const auto identity = ClaudeAppState::readIdentity(services.home);
        // Only an identity of the captured account; without a known address none is kept.
        if (identityOf(identity, result.email))
            result.identity = identity;
    } catch (const std::exception& e) {
        result.message = Text::fill(TR("取り込み失敗: %1"), {e.what()});
        return result;
    }
    result.captured = true;
    result.message = Text::fill(TR("「%1」に現在のログインを取り込みました"), {profile.name});
    return result;
}

Enrolment enrol(const Services& services, SlotCustodian& custodian,
                const std::vector<ProfileConfig>& placeholders, const Uuid& newProfile,
                const std::string& blob, const std::string& email) {
    Enrolment result;
    for (const ProfileConfig& p : placeholders)
        if (!custodian.has(p.id)) {
            result.reused = p.id;
            break;
        }
    try {
        custodian.store(result.reused.value_or(newProfile), blob);
    } catch (const std::exception& e) {
        result.message = Text::fill(TR("登録失敗: %1"), {e.what()});
        return result;
    }
    const auto identity = ClaudeAppState::readIdentity(services.home);
    if (identityOf(identity, email))
        result.identity = identity;
    result.enrolled = true;
    result.message = Text::fill(TR("「%1」を登録しました"), {email});
    return result;
}

} // namespace AccountSteps
