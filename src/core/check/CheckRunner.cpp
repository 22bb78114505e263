#include "check/CheckRunner.h"

#include "base/Clock.h"
#include "base/Language.h"
#include "base/Text.h"
#include "claude/CredentialResolver.h"
#include "codex/CodexProvider.h"
#include "config/AppConfig.h"
#include "config/ConfigStore.h"
#include "history/HistoryRetention.h"
#include "history/HistoryStore.h"
#include "readings/OneShot.h"
#include "readings/ProfileReader.h"
#include "statusline/StatusLineStore.h"
#include "usage/AnthropicAPI.h"

#include <algorithm>
#include <cstdio>

namespace CheckRunner {
namespace {

// A window's line, and its forecast line when it fills before its reset at the recent pace.
void printWindows(const ProfileConfig& profile, const std::vector<UsageWindow>& windows,
                  const std::vector<HistoryRecord>& history, Instant now, std::ostream& out) {
    for (const auto& w : windows) {
        out << windowLine(w) << '\n';
        if (const auto full = OneShot::forecast(history, profile.id, w, now))
            out << forecastLine(w, *full) << '\n';
    }
}

std::string headerLine(const ProfileConfig& profile, bool active) {
    std::string line = "== " + profile.name;
    line += profile.provider == Provider::codex ? " [Codex]" : " [Claude]";
    line += " (" + profile.configDir + ")";
    if (active)
        line += " [active]";
    return line;
}

void checkCodex(const ProfileConfig& profile, std::ostream& out, const Services& services,
                const std::vector<HistoryRecord>& history) {
    const Instant now = services.clock.now();
    const auto windows = CodexProvider::readUsage(profile.configDir, services.home, now);
    if (const auto plan = CodexProvider::readPlanType(profile.configDir, services.home))
        out << "  plan: " << *plan << '\n';
    printWindows(profile, windows, history, now, out);
}

// A profile read from claude's status line: its last reading, no token.
void checkStatusLine(const ProfileConfig& profile, std::ostream& out, const Services& services,
                     const std::vector<HistoryRecord>& history) {
    const Instant now = services.clock.now();
    const auto reading = ProfileReader::statusLineReading(ConfigStore::baseDir(), profile, services.home);
    if (!reading)
        throw std::runtime_error(StatusLineStore::noReadingMessage(profile.configDir));
    out << "  source: status line, read " << DateTime::formatIso8601(reading->at) << '\n';
    printWindows(profile, StatusLineStore::windowsAt(*reading, now), history, now, out);
}

void checkClaude(const ProfileConfig& profile, bool active, bool raw, std::ostream& out,
                 const Services& services, const std::vector<HistoryRecord>& history) {
    const ResolvedCredentials resolved = CredentialResolver::resolve(services, profile, active);
    const OAuthCredentials& credentials = resolved.credentials;
    out << "  creds: " << credentials.sourceDescription;
    if (credentials.expiresAt) {
        const std::string when = DateTime::formatIso8601(*credentials.expiresAt);
        if (*credentials.expiresAt >= services.clock.now())
            out << Text::fill(TR(" [有効 〜%1]"), {when});
        else
            out << Text::fill(TR(" [期限切れ %1]"), {when});
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
    printWindows(profile, AnthropicAPI::usage(services.http, credentials.accessToken), history,
                 services.clock.now(), out);
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

std::string forecastLine(const UsageWindow& window, Instant full) {
    std::string line =
        "  " + Text::padOrCutUtf16(window.key, 24) + "  full ~" + DateTime::formatIso8601(full);
    if (window.resetsAt)
        line += ", resets " + DateTime::formatIso8601(*window.resetsAt);
    return line;
}

void run(bool raw, std::ostream& out, const Services& services) {

    // Nothing is written here but a first configuration: a file with a fault is only reported.
    const ConfigStore::Loaded loaded = ConfigStore::load(ConfigStore::baseDir(), services.home);
    const AppConfig& config = loaded.config;
    const std::string file = (ConfigStore::baseDir() / "config.json").string();
    out << "ulmet --check\n";
    out << "config: " << file << '\n';
    if (loaded.fault)
        out << "  ERROR: " << ConfigStore::describe(*loaded.fault, file)
            << (loaded.source == ConfigStore::Loaded::Source::backup
                    ? TR("（バックアップの設定で確認します。ファイルは書き換えません）")
                    : TR("（既定の設定で確認します。ファイルは書き換えません）"))
            << '\n';
    out << "profiles: " << config.profiles.size() << '\n';
    out << "history: "
        << HistoryRetention::describe(HistoryRetention::measure(ConfigStore::baseDir() / "history")) << '\n';
    const std::vector<HistoryRecord> history = OneShot::recentHistory(services.clock.now());
    for (const ProfileConfig& profile : config.profiles) {
        const bool active = config.activeProfileID && *config.activeProfileID == profile.id;
        out << '\n' << headerLine(profile, active) << '\n';
        try {
            // The endpoint is always asked here, even when a recent status-line reading would spare
            // the running program a request: the check shows what the login can do.
            switch (ProfileReader::wayOf(profile)) {
            case ProfileReader::Way::codexLog:
                checkCodex(profile, out, services, history);
                break;
            case ProfileReader::Way::statusLine:
                checkStatusLine(profile, out, services, history);
                break;
            case ProfileReader::Way::endpoint:
                checkClaude(profile, active, raw, out, services, history);
                break;
            }
        } catch (const std::exception& e) {
            out << "  ERROR: " << e.what() << '\n';
        }
        out.flush();
    }
    out.flush();
}

} // namespace CheckRunner
