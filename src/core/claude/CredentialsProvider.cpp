#include "claude/CredentialsProvider.h"

#include "base/Json.h"
#include "secrets/SecretStore.h"

CredentialsError CredentialsError::notFound(const std::string& detail) {
    return CredentialsError(Kind::notFound, "認証情報が見つかりません（" + detail + "）");
}

CredentialsError CredentialsError::parse(const std::string& detail) {
    return CredentialsError(Kind::parse, "認証情報を解析できません（" + detail + "）");
}

namespace {

// The store's name at the start of a sentence: a Latin word is set off by a space.
std::string lead(const PlatformWords::Words& words) {
    std::string out(words.secretStore);
    if (!out.empty() && static_cast<unsigned char>(out.back()) < 0x80)
        out.push_back(' ');
    return out;
}

} // namespace

CredentialsError CredentialsError::keychain(int status, const std::string& service,
                                            const PlatformWords::Words& words) {
    std::string description;
    if (status == SecretStatus::itemNotFound)
        description = lead(words) + "に「" + service + "」がありません";
    else if (words.unreachable.empty())
        description =
            lead(words) + "読み取りエラー（" + service + ", status " + std::to_string(status) + "）";
    else if (status == SecretStatus::notAvailable)
        description = std::string(words.unreachable) + "（" + service + "）";
    else if (status == SecretStatus::interactionNotAllowed)
        description = std::string(words.locked) + "（" + service + "）";
    else
        description = lead(words) + "読み取りエラー（" + service + "）";
    return CredentialsError(Kind::keychain, description, status, service);
}

CredentialsError CredentialsError::noLogin(int status, const std::string& file, const std::string& service,
                                           const PlatformWords::Words& words) {
    std::string description = "claude のログインが見つかりません（" + file + " が無く、" + lead(words);
    description +=
        status == SecretStatus::itemNotFound ? "にも「" + service + "」がありません" : "にも接続できません";
    description += "）。claude を起動してログインしてください";
    return CredentialsError(Kind::keychain, description, status, service);
}

namespace CredentialsProvider {

OAuthCredentials parse(std::string_view data, std::string source) {
    const auto document = Json::parse(data);
    if (!document || !document->is_object())
        throw CredentialsError::parse("JSON ではありません");
    const nlohmann::json* fields = &*document;
    if (const auto inner = document->find("claudeAiOauth"); inner != document->end() && inner->is_object())
        fields = &*inner;

    const auto token = fields->find("accessToken");
    if (token == fields->end() || !token->is_string() || token->get_ref<const std::string&>().empty())
        throw CredentialsError::parse("accessToken がありません");

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
