#include "history/HistoryChart.h"

#include "base/Language.h"

#include <array>
#include <set>
#include <unordered_map>

namespace {

constexpr std::array kRanges{HistoryRange::fiveHours, HistoryRange::day, HistoryRange::week,
                             HistoryRange::month};

} // namespace

std::span<const HistoryRange> allHistoryRanges() {
    return kRanges;
}

std::string_view label(HistoryRange range) {
    switch (range) {
    case HistoryRange::fiveHours:
        return TR_NOOP("5時間");
    case HistoryRange::day:
        return TR_NOOP("24時間");
    case HistoryRange::week:
        return TR_NOOP("7日");
    case HistoryRange::month:
        return TR_NOOP("30日");
    }
    return TR_NOOP("24時間");
}

std::optional<HistoryRange> historyRangeFromString(std::string_view text) {
    for (HistoryRange r : kRanges)
        if (label(r) == text)
            return r;
    return std::nullopt;
}

double spanSeconds(HistoryRange range) {
    switch (range) {
    case HistoryRange::fiveHours:
        return 18000;
    case HistoryRange::day:
        return 86400;
    case HistoryRange::week:
        return 604800;
    case HistoryRange::month:
        return 2592000;
    }
    return 86400;
}

namespace HistoryChart {

Data compute(const std::vector<HistoryRecord>& records, const std::vector<ProfileName>& profiles,
             std::string_view windowKey) {
    std::unordered_map<Uuid, const std::string*> names;
    for (const auto& p : profiles)
        names.emplace(p.id, &p.name); // a repeated id keeps its first name

    // Per profile, in order of first appearance: the chosen window's readings (record, value).
    struct Reading {
        const HistoryRecord* record;
        double value;
    };
    struct Series {
        const std::string* name;
        std::vector<Reading> readings;
    };
    std::vector<Series> series;
    std::unordered_map<Uuid, std::size_t> seriesIndex;
    std::set<std::string, std::less<>> keys;

    for (const HistoryRecord& record : records) {
        const UsageWindow* chosen = nullptr;
        for (const UsageWindow& w : record.windows) {
            if (!keys.contains(w.key))
                keys.insert(w.key);
            if (!chosen && w.key == windowKey)
                chosen = &w;
        }
        if (!chosen)
            continue;
        const auto name = names.find(record.profileID);
        if (name == names.end())
            continue; // a removed profile draws no line
        auto [it, added] = seriesIndex.try_emplace(record.profileID, series.size());
        if (added)
            series.push_back(Series{name->second, {}});
        series[it->second].readings.push_back(Reading{&record, chosen->utilization});
    }

    Data data;
    for (const Series& s : series) {
        const std::size_t count = s.readings.size();
        const std::size_t kept = std::min(count, kMaxPointsPerProfile);
        const double step = static_cast<double>(count) / static_cast<double>(kMaxPointsPerProfile);
        for (std::size_t i = 0; i < kept; ++i) {
            const Reading& r = count > kMaxPointsPerProfile
                                   ? s.readings[static_cast<std::size_t>(static_cast<double>(i) * step)]
                                   : s.readings[i];
            data.points.push_back(ChartPoint{Uuid::random(), *s.name, r.record->ts, r.value});
        }
    }

    std::vector<UsageWindow> ordered;
    ordered.reserve(keys.size());
    for (const auto& k : keys)
        ordered.push_back(UsageWindow{k, 0, std::nullopt, std::nullopt});
    sortForDisplay(ordered);
    for (auto& w : ordered)
        data.keys.push_back(std::move(w.key));
    return data;
}

} // namespace HistoryChart
