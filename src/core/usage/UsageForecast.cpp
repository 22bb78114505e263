#include "usage/UsageForecast.h"

#include <cmath>
#include <vector>

namespace UsageForecast {
namespace {

constexpr double kRecentSeconds = 3600;
constexpr double kMinimumSpanSeconds = 600;
constexpr std::size_t kMinimumReadings = 3;
// Windows and forecasts beyond this are not real (a window of 2e8 minutes): none is made, and no
// conversion to the clock's integer ticks can overflow.
constexpr double kLongestSeconds = 3650.0 * 24 * 3600;

Instant::duration seconds(double s) {
    return std::chrono::duration_cast<Instant::duration>(std::chrono::duration<double>(s));
}

// Percent per second of a least-squares line; none when the times do not spread.
std::optional<double> slope(const std::vector<Reading>& points, Instant origin) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const Reading& r : points) {
        const double x = DateTime::secondsBetween(origin, r.at);
        n += 1;
        sx += x;
        sy += r.utilization;
        sxx += x * x;
        sxy += x * r.utilization;
    }
    const double d = n * sxx - sx * sx;
    if (n < 2 || d <= 0)
        return std::nullopt;
    return (n * sxy - sx * sy) / d;
}

} // namespace

std::optional<Instant> fullAt(const UsageWindow& window, Instant now, std::span<const Reading> history) {
    const auto length = window.length();
    if (!window.resetsAt || !length || !(*length > 0 && *length <= kLongestSeconds) ||
        *window.resetsAt <= now || !(window.utilization >= 0 && window.utilization < 100) ||
        !(DateTime::secondsBetween(now, *window.resetsAt) <= kLongestSeconds))
        return std::nullopt;
    const Instant start = *window.resetsAt - seconds(*length);
    std::vector<Reading> recent;
    for (const Reading& r : history)
        if (std::isfinite(r.utilization) && r.at >= start && r.at < now &&
            DateTime::secondsBetween(r.at, now) <= kRecentSeconds)
            recent.push_back(r);
    recent.push_back({now, window.utilization});

    std::optional<double> pace;
    if (recent.size() >= kMinimumReadings &&
        DateTime::secondsBetween(recent.front().at, recent.back().at) >= kMinimumSpanSeconds)
        pace = slope(recent, start);
    else if (const double elapsed = DateTime::secondsBetween(start, now); elapsed > 0)
        pace = window.utilization / elapsed;
    if (!pace || !(*pace > 0))
        return std::nullopt;
    const double secondsToFull = (100 - window.utilization) / *pace;
    if (!(secondsToFull > 0 && secondsToFull < DateTime::secondsBetween(now, *window.resetsAt)))
        return std::nullopt; // resets first (and no absurd durations are made)
    return now + seconds(secondsToFull);
}

} // namespace UsageForecast
