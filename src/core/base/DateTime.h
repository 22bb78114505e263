#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// Absolute instants and their text form in the program's own files and reports.
using Instant = std::chrono::system_clock::time_point;

namespace DateTime {

// Seconds (with fraction) between two instants: b - a.
inline double secondsBetween(Instant a, Instant b) {
    return std::chrono::duration<double>(b - a).count();
}

// Instant from seconds since the Unix epoch (fraction kept to the nanosecond); values beyond
// the clock's range are clamped to it.
Instant fromUnixSeconds(double seconds);
double toUnixSeconds(Instant t);

// ISO 8601 internet date-time in UTC without fractional seconds, e.g. "2025-06-01T12:00:00Z".
// The fraction is dropped (rounded toward the past).
std::string formatIso8601(Instant t);

// Reads "YYYY-MM-DDTHH:MM:SS[.fraction](Z|±hh:mm)" (any number of fraction digits, kept to the
// nanosecond). Anything else, an impossible date, or a fraction when `allowFraction` is false,
// gives none.
std::optional<Instant> parseIso8601(std::string_view text, bool allowFraction = true);

// A moment as a clock reads in local time: "14:32" on the local day of `now`, "12/9 14:32" on
// another day.
std::string clockText(Instant t, Instant now);

} // namespace DateTime
