#include "DateTime.h"

#include <cmath>
#include <cstdio>

namespace DateTime {
namespace {

bool digits(std::string_view s, std::size_t pos, std::size_t count, int& out) {
    if (pos + count > s.size())
        return false;
    out = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

} // namespace

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

std::optional<Instant> parseIso8601(std::string_view s, bool allowFraction) {
    using namespace std::chrono;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(s, 0, 4, year) || s.size() < 20 || s[4] != '-' || !digits(s, 5, 2, month) || s[7] != '-' ||
        !digits(s, 8, 2, day) || s[10] != 'T' || !digits(s, 11, 2, hour) || s[13] != ':' ||
        !digits(s, 14, 2, minute) || s[16] != ':' || !digits(s, 17, 2, second))
        return std::nullopt;
    std::size_t pos = 19;
    nanoseconds fraction{0};
    if (s[pos] == '.') {
        if (!allowFraction)
            return std::nullopt;
        ++pos;
        const std::size_t start = pos;
        long long ns = 0;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            if (pos - start < 9)
                ns = ns * 10 + (s[pos] - '0');
            ++pos;
        }
        if (pos == start)
            return std::nullopt;
        for (std::size_t n = pos - start; n < 9; ++n)
            ns *= 10;
        fraction = nanoseconds(ns);
    }
    minutes offset{0};
    if (pos < s.size() && s[pos] == 'Z') {
        ++pos;
    } else if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        int oh = 0, om = 0;
        if (!digits(s, pos + 1, 2, oh) || pos + 3 >= s.size() || s[pos + 3] != ':' ||
            !digits(s, pos + 4, 2, om) || oh > 23 || om > 59)
            return std::nullopt;
        offset = minutes(oh * 60 + om);
        if (s[pos] == '-')
            offset = -offset;
        pos += 6;
    } else {
        return std::nullopt;
    }
    if (pos != s.size())
        return std::nullopt;
    const year_month_day ymd{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                             std::chrono::day(static_cast<unsigned>(day))};
    if (!ymd.ok() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const auto t = sys_days(ymd) + hours(hour) + minutes(minute) + seconds(second) + fraction - offset;
    return time_point_cast<Instant::duration>(t);
}

} // namespace DateTime
