#include "readings/OneShot.h"

#include "base/FileIO.h"
#include "claude/CredentialResolver.h"
#include "codex/CodexProvider.h"
#include "config/ConfigStore.h"
#include "statusline/StatusLineStore.h"
#include "usage/AnthropicAPI.h"
#include "usage/UsageForecast.h"

#include <stdexcept>

namespace OneShot {

std::vector<HistoryRecord> recentHistory(Instant now) {
    const Instant since = now - std::chrono::hours(1);
    std::vector<HistoryRecord> records;
    std::string last;
    for (const Instant day : {since, now}) {
        const std::string name = HistoryStore::dayFileName(day);
        if (name == last)
            continue;
        last = name;
        std::error_code error;
        if (const auto text =
                FileIO::readFile(ConfigStore::baseDir() / "history" / name, std::size_t(256) << 20, error))
            HistoryStore::decodeLines(*text, since, records);
    }
    return records;
}

std::optional<Instant> forecast(const std::vector<HistoryRecord>& history, const Uuid& profile,
                                const UsageWindow& window, Instant now) {
    std::vector<UsageForecast::Reading> readings;
    for (const HistoryRecord& r : history)
        if (r.profileID == profile)
            for (const UsageWindow& old : r.windows)
                if (old.key == window.key) {
                    readings.push_back({r.ts, old.utilization});
                    break;
                }
    return UsageForecast::fullAt(window, now, readings);
}

Readings collect(const Services& services) {
    const AppConfig config = ConfigStore::loadOrCreate();
    const Instant now = services.clock.now();
    std::map<Uuid, ProfileStatus> statuses;
    std::map<Uuid, UsageSource> sources;
    for (const ProfileConfig& profile : config.profiles) {
        const bool active = config.activeProfileID == profile.id;
        try {
            if (profile.provider == Provider::codex) {
                statuses.insert_or_assign(
                    profile.id,
                    ProfileStatus::ok(CodexProvider::readUsage(profile.configDir, services.home, now), now));
            } else if (profile.usageSource == UsageSource::statusLine) {
                sources[profile.id] = UsageSource::statusLine;
                const auto reading =
                    StatusLineStore::load(ConfigStore::baseDir(), profile.configDir, services.home);
                if (!reading)
                    throw std::runtime_error(StatusLineStore::noReadingMessage(profile.configDir));
                statuses.insert_or_assign(
                    profile.id, ProfileStatus::ok(StatusLineStore::windowsAt(*reading, now), reading->at));
            } else {
                sources[profile.id] = UsageSource::api;
                const ResolvedCredentials resolved = CredentialResolver::resolve(services, profile, active);
                statuses.insert_or_assign(
                    profile.id,
                    ProfileStatus::ok(AnthropicAPI::usage(services.http, resolved.credentials.accessToken),
                                      now));
            }
        } catch (const std::exception& e) {
            statuses.insert_or_assign(profile.id, ProfileStatus::error(e.what()));
        }
    }
    const std::vector<HistoryRecord> history = recentHistory(now);
    const auto fullAt = [&](const Uuid& id, const UsageWindow& w, Instant takenAt) {
        return forecast(history, id, w, takenAt);
    };
    return Readings::build(config, statuses, sources, {}, fullAt, now);
}

} // namespace OneShot
