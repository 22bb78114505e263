#pragma once

#include "base/Services.h"
#include "history/HistoryStore.h"
#include "readings/Readings.h"

#include <vector>

// Readings taken once, without a running MeterKeeper (`ulmet --json`, `--waybar`): the path of
// `ulmet --check`, strictly one profile and one request after the other, writing nothing but
// what the configuration store and the credential resolver write themselves.
namespace OneShot {

// The readings of the last hour, read straight from the history's day files (creates nothing).
std::vector<HistoryRecord> recentHistory(Instant now);
// When `window` of `profile`, read at `now`, fills at the pace of the same window's readings in
// `history`.
std::optional<Instant> forecast(const std::vector<HistoryRecord>& history, const Uuid& profile,
                                const UsageWindow& window, Instant now);

// Loads (or creates) the configuration and reads every profile.
Readings collect(const Services& services);

} // namespace OneShot
