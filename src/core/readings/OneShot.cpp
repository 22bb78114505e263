#include "readings/OneShot.h"

#include "base/FileIO.h"
#include "claude/CredentialResolver.h"
#include "config/ConfigStore.h"
#include "readings/ProfileReader.h"
#include "usage/UsageForecast.h"

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
    // What a running MeterKeeper would show: a status-line reading younger than one poll
    // interval stands in for a request, as it does there.
    ProfileReader::Request request;
    request.baseDir = ConfigStore::baseDir();
    request.statusLineFreshFor = std::chrono::seconds(static_cast<long long>(config.pollInterval()));
    for (const ProfileConfig& profile : config.profiles) {
        const bool active = config.activeProfileID == profile.id;
        request.token = [&services, active](const ProfileConfig& p) {
            return ProfileReader::Token{CredentialResolver::resolve(services, p, active).credentials};
        };
        ProfileReader::Outcome read = ProfileReader::read(services, profile, request);
        if (ProfileReader::wayOf(profile) != ProfileReader::Way::codexLog)
            sources[profile.id] = read.source;
        statuses.insert_or_assign(profile.id, std::move(read.status));
    }
    const std::vector<HistoryRecord> history = recentHistory(now);
    const auto fullAt = [&](const Uuid& id, const UsageWindow& w, Instant takenAt) {
        return forecast(history, id, w, takenAt);
    };
    return Readings::build(config, statuses, sources, {}, fullAt, now);
}

} // namespace OneShot
