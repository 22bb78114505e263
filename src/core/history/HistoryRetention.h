#pragma once

#include "base/DateTime.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// How long the history keeps what. The day files of today and the 35 days before it keep every
// record as written; older days keep at most one record per profile per quarter hour (the last of
// the quarter, and the last before each reset inside it); days more than 400 days old are
// removed. Only files that hold nothing but records are ever rewritten or removed: anything else
// in the folder is the user's.
namespace HistoryRetention {

inline constexpr int kWholeDays = 35;
inline constexpr int kKeptDays = 400;
inline constexpr std::chrono::minutes kQuarter{15};
// Two reset times closer than this are the same reset read twice (the endpoint's reset times
// move by a second or so from one answer to the next; a real reset moves them by hours).
inline constexpr std::chrono::minutes kSameReset{10};

enum class Fate { keepWhole, thin, remove };

// What becomes of the day file `name` ("YYYY-MM-DD.jsonl") on the local day `today`; anything
// that is not a valid day's name is kept.
Fate fateOf(std::string_view name, std::chrono::sys_days today);
// The local calendar day of `t`.
std::chrono::sys_days localDay(Instant t);
// "YYYY-MM-DD.jsonl" of a day.
std::string fileName(std::chrono::sys_days day);

// The text of a day file thinned: the kept lines, byte for byte, in their order. The same text
// when nothing is dropped; none when a non-empty line does not hold a record.
std::optional<std::string> thin(std::string_view text);
// Whether every non-empty line of the text holds a record.
bool holdsOnlyRecords(std::string_view text);

// The size of the history folder: every regular file in it, and how many of them are day files.
struct FolderSize {
    std::uintmax_t bytes = 0;
    int days = 0;
};
FolderSize measure(const std::filesystem::path& dir);
// "12.3 MB, 412 days", or "none" when there is no day file.
std::string describe(const FolderSize& size);

} // namespace HistoryRetention
