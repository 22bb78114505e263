#include "base/DateTime.h"

#include <cmath>
#include <cstdio>
#include <ctime>

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

bool isLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long long daysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
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
    // The program's own form, "YYYY-MM-DDTHH:MM:SSZ", the one read by the thousands.
    if (s.size() == 20 && s[19] == 'Z' && s[4] == '-' && s[7] == '-' && s[10] == 'T' && s[13] == ':' &&
        s[16] == ':') {
        static constexpr int kDigitAt[] = {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18};
        int v[14];
        bool ok = true;
        for (int i = 0; i < 14; ++i) {
            v[i] = s[kDigitAt[i]] - '0';
            ok &= static_cast<unsigned>(v[i]) < 10;
        }
        if (ok) {
            const int year = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
            const int month = v[4] * 10 + v[5];
            const int day = v[6] * 10 + v[7];
            const int hour = v[8] * 10 + v[9];
            const int minute = v[10] * 10 + v[11];
            const int second = v[12] * 10 + v[13];
            if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
                minute > 59 || second > 59)
                return std::nullopt;
            // Readings come in runs of the same day: remember the last day's number.
            static thread_local int lastYear = 0, lastMonth = 0, lastDay = 0;
            static thread_local long long lastDays = 0;
            if (year != lastYear || month != lastMonth || day != lastDay) {
                lastDays = daysFromCivil(year, month, day);
                lastYear = year;
                lastMonth = month;
                lastDay = day;
            }
            const long long seconds = lastDays * 86400 + hour * 3600LL + minute * 60LL + second;
            if (seconds >= -9'200'000'000LL && seconds <= 9'200'000'000LL) // else the general path clamps
                return Instant(std::chrono::seconds(seconds));
        }
    }
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (s.size() < 20 || !digits(s, 0, 4, year) || s[4] != '-' || !digits(s, 5, 2, month) || s[7] != '-' ||
        !digits(s, 8, 2, day) || s[10] != 'T' || !digits(s, 11, 2, hour) || s[13] != ':' ||
        !digits(s, 14, 2, minute) || s[16] != ':' || !digits(s, 17, 2, second))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 59)
        return std::nullopt;
    std::size_t pos = 19;
    long long fractionNs = 0;
    if (s[pos] == '.') {
        if (!allowFraction)
            return std::nullopt;
        ++pos;
        const std::size_t start = pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            if (pos - start < 9)
                fractionNs = fractionNs * 10 + (s[pos] - '0');
            ++pos;
        }
        if (pos == start)
            return std::nullopt;
        for (std::size_t n = pos - start; n < 9; ++n)
            fractionNs *= 10;
    }
    long long offsetSeconds = 0;
    if (pos < s.size() && s[pos] == 'Z') {
        ++pos;
    } else if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        int oh = 0, om = 0;
        if (!digits(s, pos + 1, 2, oh) || pos + 3 >= s.size() || s[pos + 3] != ':' ||
            !digits(s, pos + 4, 2, om) || oh > 23 || om > 59)
            return std::nullopt;
        offsetSeconds = (oh * 60LL + om) * 60;
        if (s[pos] == '-')
            offsetSeconds = -offsetSeconds;
        pos += 6;
    } else {
        return std::nullopt;
    }
    if (pos != s.size())
        return std::nullopt;
    long long seconds =
        daysFromCivil(year, month, day) * 86400 + hour * 3600LL + minute * 60LL + second - offsetSeconds;
    // The clock counts nanoseconds in 64 bits: clamp far dates instead of overflowing.
    constexpr long long kLimit = 9'200'000'000LL;
    if (seconds > kLimit || seconds < -kLimit) {
        seconds = seconds > 0 ? kLimit : -kLimit;
        fractionNs = 0;
    }
    return Instant(std::chrono::seconds(seconds) + std::chrono::nanoseconds(fractionNs));
}

std::string clockText(Instant t, Instant now) {
    const auto local = [](Instant i) {
        const std::time_t seconds =
            std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(i));
        std::tm tm{};
        localtime_r(&seconds, &tm);
        return tm;
    };
    const std::tm at = local(t);
    const std::tm today = local(now);
    char text[48];
    if (at.tm_year == today.tm_year && at.tm_yday == today.tm_yday)
        std::snprintf(text, sizeof text, "%d:%02d", at.tm_hour, at.tm_min);
    else
        std::snprintf(text, sizeof text, "%d/%d %d:%02d", at.tm_mon + 1, at.tm_mday, at.tm_hour, at.tm_min);
    return text;
}

} // namespace DateTime
