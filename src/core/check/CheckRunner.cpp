#include "check/CheckRunner.h"

#include "base/Clock.h"
#include "base/Text.h"
#include "claude/CredentialResolver.h"
#include "codex/CodexProvider.h"
#include "config/AppConfig.h"
#include "config/ConfigStore.h"
#include "usage/AnthropicAPI.h"

#include <algorithm>
#include <cstdio>

namespace CheckRunner {
namespace {

std::string headerLine(const ProfileConfig& profile, bool active) {
    std::string line = "== " + profile.name;
    line += profile.provider == Provider::codex ? " [Codex]" : " [Claude]";
    line += " (" + profile.configDir + ")";
    if (active)
        line += " [active]";
    return line;
}

void checkCodex(const ProfileConfig& profile, std::ostream& out, const Services& services) {
    const auto windows = CodexProvider::readUsage(profile.configDir, services.home, services.clock.now());
    if (const auto plan = CodexProvider::readPlanType(profile.configDir, services.home))
        out << "  plan: " << *plan << '\n';
    for (const auto& w : windows)
        out << windowLine(w) << '\n';
}

void checkClaude(const ProfileConfig& profile, bool active, bool raw, std::ostream& out,
                 const Services& services) {
    const ResolvedCredentials resolved = CredentialResolver::resolve(services, profile, active);
    const OAuthCredentials& credentials = resolved.credentials;
    out << "  creds: " << credentials.sourceDescription;
    if (credentials.expiresAt) {
        const std::string when = DateTime::formatIso8601(*credentials.expiresAt);
        if (*credentials.expiresAt >= services.clock.now())
            out << " [有効 〜" << when << "]";
        else
            out << " [期限切れ " << when << "]";
    }
    out << '\n';
    if (const auto email = AnthropicAPI::profileEmail(services.http, credentials.accessToken))
        out << "  account: " << *email << '\n';
    if (raw) {
        const HttpResponse response =
            AnthropicAPI::request(services.http, AnthropicAPI::kUsagePath, credentials.accessToken);
        out << "  raw (HTTP " << response.status
            << "): " << (Text::isValidUtf8(response.body) ? response.body : std::string("<binary>")) << '\n';
    }
    for (const auto& w : AnthropicAPI::usage(services.http, credentials.accessToken))
        out << windowLine(w) << '\n';
}

} // namespace

std::string windowLine(const UsageWindow& window) {
    char percent[64];
    std::snprintf(percent, sizeof percent, "%5.1f", window.utilization);
    std::string line = "  " + Text::padOrCutUtf16(window.key, 24) + " " + percent + "%";
    if (window.resetsAt)
        line += "  resets " + DateTime::formatIso8601(*window.resetsAt);
    return line;
}

void run(std::span<const std::string> args, std::ostream& out, const Services& services) {
    const bool raw = std::find(args.begin(), args.end(), "--raw") != args.end();

    const AppConfig config = ConfigStore::loadOrCreate();
    out << "ulmet --check\n";
    out << "config: " << (ConfigStore::baseDir() / "config.json").string() << '\n';
    out << "profiles: " << config.profiles.size() << '\n';
    for (const ProfileConfig& profile : config.profiles) {
        const bool active = config.activeProfileID && *config.activeProfileID == profile.id;
        out << '\n' << headerLine(profile, active) << '\n';
        try {
            if (profile.provider == Provider::codex)
                checkCodex(profile, out, services);
            else
                checkClaude(profile, active, raw, out, services);
        } catch (const std::exception& e) {
            out << "  ERROR: " << e.what() << '\n';
        }
        out.flush();
    }
    out.flush();
}

} // namespace CheckRunner
