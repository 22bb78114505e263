#pragma once

#include "base/Uuid.h"
#include "history/HistoryStore.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The spans the history chart offers.
enum class HistoryRange { fiveHours, day, week, month };

std::span<const HistoryRange> allHistoryRanges();
// "5時間", "24時間", "7日", "30日": the label is also the text value.
std::string_view label(HistoryRange range);
std::optional<HistoryRange> historyRangeFromString(std::string_view text);
// Seconds: 18000, 86400, 604800, 2592000.
double spanSeconds(HistoryRange range);

// One plotted reading.
struct ChartPoint {
    Uuid id;             // fresh for every point; never matched across computations
    std::string profile; // the profile's name: the series the point belongs to
    Instant ts;
    double value; // utilization, percent
};

// The data of the history chart, computed from stored records.
namespace HistoryChart {

inline constexpr std::size_t kMaxPointsPerProfile = 500;

struct ProfileName {
    Uuid id;
    std::string name;
};

struct Data {
    std::vector<ChartPoint> points; // per profile in time order, at most 500 each
    std::vector<std::string> keys;  // every window key of the records, in display order
};

// `records` sorted by ts (as HistoryStore::load gives them). Points of `windowKey` (the first
// such window of a record) for the profiles in `profiles`; records of other profiles only add
// their keys. A profile with more than 500 points keeps those at indices floor(i * n / 500).
Data compute(const std::vector<HistoryRecord>& records, const std::vector<ProfileName>& profiles,
             std::string_view windowKey);

} // namespace HistoryChart
