#include "claude/CredentialsProvider.h"

#include "base/Json.h"
#include "base/Language.h"
#include "base/Text.h"
#include "secrets/SecretStore.h"

CredentialsError CredentialsError::notFound(const std::string& detail) {
    return CredentialsError(Kind::notFound, Text::fill(TR("認証情報が見つかりません（%1）"), {detail}));
}

CredentialsError CredentialsError::parse(const std::string& detail) {
    return CredentialsError(Kind::parse, Text::fill(TR("認証情報を解析できません（%1）"), {detail}));
}

namespace {

// The store's name before a Japanese particle: a Latin word is set off by a space (in other
// languages the sentence spaces it itself).
std::string lead(const PlatformWords::Words& words) {
    std::string out = TR(words.secretStore.data());
    if (Language::current() == Language::Lang::japanese && !out.empty() &&
        static_cast<unsigned char>(out.back()) < 0x80)
        out.push_back(' ');
    return out;
}

} // namespace

CredentialsError CredentialsError::keychain(int status, const std::string& service,
                                            const PlatformWords::Words& words) {
    std::string description;
    if (status == SecretStatus::itemNotFound)
        description = Text::fill(TR("%1に「%2」がありません"), {lead(words), service});
    else if (words.unreachable.empty())
        description = Text::fill(TR("%1読み取りエラー（%2, status %3）"),
                                 {lead(words), service, std::to_string(status)});
    else if (status == SecretStatus::notAvailable) // what to do, not which of our items it was
        description = Text::fill(TR("%1。GNOME Keyring、KeePassXC、KWallet などのキーリングを起動してから、"
                                    "もう一度試してください"),
                                 {TR(words.unreachable.data())});
    else if (status == SecretStatus::interactionNotAllowed)
        description =
            Text::fill(TR("%1。ロックを解除してから、もう一度試してください"), {TR(words.locked.data())});
    else
        description = Text::fill(TR("%1読み取りエラー（%2）"), {lead(words), service});
    return CredentialsError(Kind::keychain, description, status, service);
}

CredentialsError CredentialsError::noLogin(int status, const std::string& file, const std::string& service,
                                           const PlatformWords::Words& words) {
    const std::string description =
        status == SecretStatus::itemNotFound
            ? Text::fill(
                  TR("claude のログインが見つかりません（%1 が無く、%2にも「%3」がありません）。claude "
                     "を起動してログインしてください"),
                  {file, lead(words), service})
            : Text::fill(TR("claude のログインが見つかりません（%1 が無く、%2にも接続できません）。claude "
                            "を起動してログインしてください"),
                         {file, lead(words)});
    return CredentialsError(Kind::keychain, description, status, service);
}

namespace CredentialsProvider {

OAuthCredentials parse(std::string_view data, std::string source) {
    const auto document = Json::parse(data);
    if (!document || !document->is_object())
        throw CredentialsError::parse(TR("JSON ではありません"));
    const nlohmann::json* fields = &*document;
    if (const auto inner = document->find("claudeAiOauth"); inner != document->end() && inner->is_object())
        fields = &*inner;

    const auto token = fields->find("accessToken");
    if (token == fields->end() || !token->is_string() || token->get_ref<const std::string&>().empty())
        throw CredentialsError::parse(TR("accessToken がありません"));

    OAuthCredentials credentials;
    credentials.accessToken = token->get<std::string>();
    if (const auto expires = fields->find("expiresAt"); expires != fields->end() && expires->is_number()) {
        const double v = expires->get<double>();
        credentials.expiresAt = DateTime::fromUnixSeconds(v > 1e12 ? v / 1000 : v);
    }
    if (const auto refresh = fields->find("refreshToken");
        refresh != fields->end() && refresh->is_string() && !refresh->get_ref<const std::string&>().empty())
        credentials.refreshToken = refresh->get<std::string>();
    credentials.sourceDescription = std::move(source);
    return credentials;
}

std::string keychainRead(SecretStore& store, std::string_view service,
                         std::optional<std::string_view> account) {
    if (account && account->empty())
        account.reset();
    SecretRead result = store.read(service, account);
    if (result.status != SecretStatus::success)
        throw CredentialsError::keychain(result.status, std::string(service));
    return std::move(result.data);
}

} // namespace CredentialsProvider
