#include "DateTime.h"

#include <cmath>
#include <cstdio>

namespace DateTime {

Instant fromUnixSeconds(double seconds) {
    // The clock counts nanoseconds in 64 bits (about ±292 years around 1970); clamp instead of
    // overflowing.
    constexpr double kLimit = 9.2e9;
    if (std::isnan(seconds))
        seconds = 0;
    seconds = std::fmax(-kLimit, std::fmin(kLimit, seconds));
    const auto ns = std::chrono::duration<double>(seconds);
    return Instant(std::chrono::duration_cast<Instant::duration>(ns));
}

double toUnixSeconds(Instant t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

std::string formatIso8601(Instant t) {
    using namespace std::chrono;
    const auto secs = floor<seconds>(t);
    const auto day = floor<days>(secs);
    const year_month_day ymd{day};
    const hh_mm_ss hms{secs - day};
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                  static_cast<int>(hms.seconds().count()));
    return buffer;
}

} // namespace DateTime
