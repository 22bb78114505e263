#include "usage/UsageForecast.h"

#include <vector>

namespace UsageForecast {
namespace {

constexpr double kRecentSeconds = 3600;
constexpr double kMinimumSpanSeconds = 600;
constexpr std::size_t kMinimumReadings = 3;

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
    if (!window.resetsAt || !length || *window.resetsAt <= now || window.utilization >= 100)
        return std::nullopt;
    const Instant start = *window.resetsAt - std::chrono::duration_cast<Instant::duration>(
                                                 std::chrono::duration<double>(*length));
    std::vector<Reading> recent;
    for (const Reading& r : history)
        if (r.at >= start && r.at < now && DateTime::secondsBetween(r.at, now) <= kRecentSeconds)
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
    if (!(secondsToFull < DateTime::secondsBetween(now, *window.resetsAt)))
        return std::nullopt; // resets first (and no absurd durations are made)
    return now + std::chrono::duration_cast<Instant::duration>(std::chrono::duration<double>(secondsToFull));
}

} // namespace UsageForecast
