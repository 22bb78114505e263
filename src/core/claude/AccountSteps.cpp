#include "claude/AccountSteps.h"

#include "claude/ActiveCredentialStore.h"
#include "claude/ClaudeAppState.h"
#include "claude/CredentialsProvider.h"
#include "claude/CustodyLedger.h"
#include "claude/CustodyLock.h"
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
                                          const std::string& blob, const std::optional<std::string>& email,
                                          bool emailFromStateFile) {
    const CustodyLock custody(custodian.ledger().dir());
    // Only what stood still: a switch cut short is completed first, and claude's files must still
    // say what the caller read (a login being written moves on before the next look).
    if (custodian.ledger().read().switching)
        return std::nullopt;
    try {
        if (ActiveCredentialStore::read(services.secrets, services.home) != blob)
            return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (emailFromStateFile && ClaudeAppState::readEmail(services.home) != email)
        return std::nullopt;
    // The profile was taken from a list read before another process stored another account's
    // login in its slot: that process's configuration comes next.
    if (!custodian.slotIsOf(id, email))
        return std::nullopt;
    custodian.storeOrHold(id, blob, email); // held in memory when the secret store refuses it
    auto identity = ClaudeAppState::readIdentity(services.home);
    return identityOf(identity, email) ? identity : std::nullopt;
}

bool repair(const Services& services, SlotCustodian& custodian, const std::vector<ProfileConfig>& profiles) {
    CustodyLedger& ledger = custodian.ledger();
    if (!ledger.read().switching)
        return false;
    const CustodyLock custody(ledger.dir());
    const auto switching = ledger.read().switching;
    if (!switching)
        return false;
    // The target's login went live and its identity may not have: write it now. A live login
    // that is not the one the switch wrote means the switch never got that far (or claude moved
    // on since): nothing to complete.
    bool repaired = false;
    const auto target = std::find_if(profiles.begin(), profiles.end(),
                                     [&](const ProfileConfig& p) { return p.id == switching->target; });
    try {
        const std::string live = ActiveCredentialStore::read(services.secrets, services.home);
        const OAuthCredentials credentials = CredentialsProvider::parse(live, "active");
        if (target != profiles.end() && target->accountIdentity && credentials.refreshToken &&
            CustodyLedger::fingerprint(*credentials.refreshToken) == switching->token) {
            if (ClaudeAppState::readIdentity(services.home) != target->accountIdentity)
                ClaudeAppState::writeIdentity(services.home, *target->accountIdentity);
            repaired = true;
        }
    } catch (const std::exception&) {
        return false; // tried again at the next chance
    }
    ledger.update([](CustodyLedger::Contents& c) { c.switching.reset(); });
    return repaired;
}

namespace {

struct Outgoing {
    bool unreadable = false; // claude's login file is there but cannot be read (being written?)
    std::optional<std::string> blob;
    std::optional<std::string> email;
};

// claude's live login and its account, when it can be told. The account named by claude's state
// file counts only when neither of claude's files changed while they were read.
Outgoing readOutgoing(const Services& services, const std::vector<ProfileConfig>& profiles) {
    Outgoing o;
    ActiveCredentialStore::Now now = ActiveCredentialStore::readNow(services.secrets, services.home);
    o.unreadable = now.unreadable;
    o.blob = std::move(now.blob);
    if (!o.blob)
        return o;
    try {
        const OAuthCredentials credentials = CredentialsProvider::parse(*o.blob, "active");
        o.email = statusLineAccount(services, profiles);
        if (o.email && (ActiveCredentialStore::read(services.secrets, services.home) != o.blob ||
                        statusLineAccount(services, profiles) != o.email))
            o.email.reset(); // one of them changed under us: the lookup below tells
        if (!o.email) {
            try {
                o.email = AnthropicAPI::profileEmail(services.http, credentials.accessToken);
            } catch (const std::exception&) {
            }
        }
        // The endpoint cannot tell (an expired access token, no network): the account claude's
        // state file names, when neither file changed while both were read.
        if (!o.email) {
            const auto named = ClaudeAppState::readEmail(services.home);
            if (named && ActiveCredentialStore::read(services.secrets, services.home) == o.blob &&
                ClaudeAppState::readEmail(services.home) == named)
                o.email = named;
        }
    } catch (const CredentialsError&) {
        o.unreadable = true;
        o.blob.reset();
    } catch (const std::exception&) {
        o.email.reset();
    }
    return o;
}

std::optional<std::string> liveNow(const Services& services) {
    try {
        return ActiveCredentialStore::read(services.secrets, services.home);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Whether some profile's slot holds exactly this login already.
bool keptInASlot(SlotCustodian& custodian, const std::vector<ProfileConfig>& profiles,
                 const std::string& blob) {
    return std::any_of(profiles.begin(), profiles.end(),
                       [&](const ProfileConfig& p) { return custodian.read(p.id) == blob; });
}

// What a switch stops at, or none: it may go on.
std::optional<std::string> refusal(const ProfileConfig& target) {
    if (target.provider == Provider::codex)
        return Text::fill(TR("「%1」は Codex のプロファイルです。切替えられるのは claude のログインだけです"),
                          {target.name});
    if (!target.accountIdentity)
        return Text::fill(TR("「%1」は識別情報が未取得です。そのアカウントで claude "
                             "にログイン中に「取り込む」を実行してください"),
                          {target.name});
    return std::nullopt;
}

// One pass of a switch: true when it is done (made or refused), false when claude's login changed
// while the target's was made ready, so that the pass must begin again with the new one.
bool switchOnce(const Services& services, SlotCustodian& custodian,
                const std::vector<ProfileConfig>& profiles, const ProfileConfig& target, Switch& result) {
    // The outgoing login goes back into the slot of its own profile. It is claude's until this
    // switch hands it another login. When the outgoing account is the target's own, its slot takes
    // the live login too: that is the account's newest login, and the slot's may have been spent
    // by claude since. The switch stops when that slot refuses it: the login would then exist
    // nowhere but in memory.
    //
    // The target's slot is paired with the identity this profile list holds, and the outgoing
    // login goes into a slot this list names: another process may have stored another account's
    // login in either since the list was read.
    if (!custodian.slotIsOf(target.id, ClaudeAppState::identityEmail(*target.accountIdentity))) {
        result.message = Text::fill(
            TR("切替えませんでした: 「%1」に保存されているログインは、このプロファイルの識別情報とは"
               "別のアカウントのものです。少し待ってからやり直すか、そのアカウントで取り込み直して"
               "ください"),
            {target.name});
        return true;
    }
    const Outgoing outgoing = readOutgoing(services, profiles);
    if (outgoing.unreadable) {
        result.message =
            TR("切替えませんでした: claude のログインファイルを読めません（書き込み中の可能性があります）。"
               "少し待ってからやり直してください");
        return true;
    }
    if (outgoing.blob)
        custodian.noteLive(*outgoing.blob, outgoing.email);
    // Of two profiles of one account, the target is the one whose slot is written live next.
    const ProfileConfig* owner = outgoing.blob && outgoing.email && target.accountEmail == outgoing.email
                                     ? &target
                                     : withEmail(profiles, outgoing.email);
    if (outgoing.blob && !owner && !keptInASlot(custodian, profiles, *outgoing.blob)) {
        // Overwriting it would lose it: a login of an account no profile has, or of one that
        // cannot be told.
        result.message = TR("切替えませんでした: 現在の claude のログインがどのプロファイルのものか分からず、"
                            "保存できません。先に登録するか、そのプロファイルに取り込んでください");
        return true;
    }
    if (owner && outgoing.blob) {
        if (!custodian.slotIsOf(owner->id, outgoing.email)) {
            result.message =
                Text::fill(TR("切替えませんでした: 「%1」には別のアカウントのログインが保存されていて、現在の"
                              "ログインを保存すると失われます。少し待ってからやり直すか、現在のログインを別の"
                              "プロファイルに取り込んでください"),
                           {owner->name});
            return true;
        }
        try {
            custodian.store(owner->id, *outgoing.blob, outgoing.email);
        } catch (const std::exception& e) {
            result.message =
                Text::fill(TR("切替えませんでした: 現在のログインを「%1」に保存できません（%2）"),
                           {owner->name, e.what()});
            return true;
        }
        if (auto identity = ClaudeAppState::readIdentity(services.home); identityOf(identity, outgoing.email))
            result.outgoingIdentity = Identity{owner->id, std::move(*identity)};
    }

    // The target's login, renewed first when it is about to expire: every network step comes
    // before the first write. Only a login kept in the profile's slot moves: one that lives in the
    // profile's own file or secret-store item belongs to that claude configuration, and two
    // configurations sharing one single-use refresh token would log each other out.
    ResolvedCredentials resolved;
    try {
        resolved = custodian.credentialsFor(target).resolved;
    } catch (const std::exception& e) {
        result.message = Text::fill(TR("切替失敗: %1"), {e.what()});
        return true;
    }
    if (resolved.source != CredSource::slot) {
        result.message =
            Text::fill(TR("切替失敗: %1"),
                       {Text::fill(TR("「%1」のログインはそのプロファイル自身のもの（%2）なので、切替えられ"
                                      "ません。切替えられるのは取り込んだログインだけです"),
                                   {target.name, resolved.credentials.sourceDescription})});
        return true;
    }
    // Named as under way before claude's login is written: a switch cut short between the login
    // and the identity is completed at the next start. From now on these tokens are claude's.
    custodian.handedToClaude(resolved.raw, target.accountEmail, target.id);
    // claude may have renewed its login or logged in meanwhile: that login is kept first.
    if (liveNow(services) != outgoing.blob) {
        custodian.ledger().update([](CustodyLedger::Contents& c) { c.switching.reset(); });
        return false;
    }
    result.liveChanged = true;
    try {
        // Over the outgoing login only: one claude renewed since the look above (while the ledger
        // was written) would otherwise be gone.
        if (!ActiveCredentialStore::write(services.secrets, services.home, resolved.raw, outgoing.blob)) {
            custodian.ledger().update([](CustodyLedger::Contents& c) { c.switching.reset(); });
            return false;
        }
    } catch (const std::exception& e) {
        custodian.ledger().update([](CustodyLedger::Contents& c) { c.switching.reset(); });
        result.message = Text::fill(TR("切替失敗: %1"), {e.what()});
        return true;
    }
    try {
        ClaudeAppState::writeIdentity(services.home, *target.accountIdentity);
    } catch (const std::exception& e) {
        // One account's token beside another's identity is worse than no switch: the previous
        // login goes back. Should that fail too, the next start completes the switch instead.
        result.message = Text::fill(TR("切替失敗: %1"), {e.what()});
        if (outgoing.blob) {
            try {
                ActiveCredentialStore::write(services.secrets, services.home, *outgoing.blob);
                custodian.handedToClaude(*outgoing.blob, outgoing.email);
            } catch (const std::exception&) {
            }
        }
        return true;
    }
    custodian.ledger().update([](CustodyLedger::Contents& c) { c.switching.reset(); });
    result.switched = true;
    result.message = switchedMessage(target.name);
    return true;
}

constexpr int kSwitchAttempts = 3;

} // namespace

Switch switchTo(const Services& services, SlotCustodian& custodian,
                const std::vector<ProfileConfig>& profiles, const ProfileConfig& target) {
    Switch result;
    if (auto why = refusal(target)) {
        result.message = *why;
        return result;
    }
    try {
        // One switch, capture or renewal at a time, in every process.
        const CustodyLock custody(custodian.ledger().dir());
        repair(services, custodian, profiles);
        for (int attempt = 0; attempt < kSwitchAttempts; ++attempt)
            if (switchOnce(services, custodian, profiles, target, result))
                return result;
    } catch (const std::exception& e) {
        result.message = Text::fill(TR("切替失敗: %1"), {e.what()});
        return result;
    }
    result.message =
        TR("切替えませんでした: claude がログインを書き換え続けています。少し待ってからやり直してください");
    return result;
}

Capture capture(const Services& services, SlotCustodian& custodian, const ProfileConfig& profile,
                const std::optional<std::string>& expected) {
    Capture result;
    try {
        const CustodyLock custody(custodian.ledger().dir());
        // The login whose account the endpoint named, read again after the lookup: a login that
        // changed meanwhile is looked up anew.
        std::optional<std::string> blob;
        for (int attempt = 0; attempt < kSwitchAttempts && !blob; ++attempt) {
            std::string read = ActiveCredentialStore::read(services.secrets, services.home);
            const OAuthCredentials credentials = CredentialsProvider::parse(read, "active");
            result.email = AnthropicAPI::profileEmail(services.http, credentials.accessToken);
            if (liveNow(services) == read)
                blob = std::move(read);
        }
        if (!blob)
            throw Error(TR("claude がログインを書き換え続けています。少し待ってからやり直してください"));
        if (expected && result.email && result.email != expected) // `email` says whose it is
            throw Error(Text::fill(TR("claude のログインは今は %1 のものです（%2 から変わりました）。"
                                      "確かめてからやり直してください"),
                                   {*result.email, *expected}));
        custodian.store(profile.id, *blob, result.email);
        custodian.noteLive(*blob, result.email);
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
    try {
        const CustodyLock custody(custodian.ledger().dir());
        // The login on offer may have been renewed by claude since it was seen: its refresh token
        // would then be spent. The next look offers the new one.
        if (liveNow(services) != blob)
            throw Error(TR("claude のログインが変わりました。次の確認のあとでもう一度登録してください"));
        for (const ProfileConfig& p : placeholders)
            if (!custodian.has(p.id)) {
                result.reused = p.id;
                break;
            }
        if (!result.reused) // deleted again should the new profile never be saved
            custodian.enrolling(newProfile);
        custodian.store(result.reused.value_or(newProfile), blob, email);
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
