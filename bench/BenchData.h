#pragma once

// Deterministic generators of realistic benchmark data: Codex session logs and usage history.

#include "history/HistoryStore.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace benchdata {

// Where generated data lives: $ULMET_BENCH_DIR, default build/bench-data.
std::filesystem::path root();

// A Codex session log of about `bytes` bytes: mostly long conversation lines without a report, a
// rate-limit report every `reportEvery` lines; with `reportOnlyOnFirstLine` the first line is the
// only report. The last report then lies within the last `reportEvery` lines.
void writeCodexLog(const std::filesystem::path& file, std::uint64_t bytes, int reportEvery,
                   bool reportOnlyOnFirstLine);

// History of `profiles` profiles polled every 60 s for `days` days up to `end`, 3-4 windows each,
// written as day files into `dir`. Returns the profile ids.
std::vector<Uuid> writeHistory(const std::filesystem::path& dir, int profiles, int days, Instant end);

// History shaped like a real account's: `profiles` profiles polled every 60 s for `days` days up
// to `end`, four Claude windows each, whose reset times stay put between resets (give or take the
// second the endpoint wobbles by) and whose use climbs until its reset.
std::vector<Uuid> writeRealisticHistory(const std::filesystem::path& dir, int profiles, int days,
                                        Instant end);

// Peak resident set of this process so far, KiB.
long peakRssKb();

// Wall-clock seconds of a shell command (the baseline tools: cat, wc).
double timeCommand(const std::string& command);

} // namespace benchdata
