#pragma once

#include "base/DateTime.h"
#include "usage/UsageWindow.h"

#include <optional>
#include <span>

// When a window fills at the pace it is being used.
namespace UsageForecast {

struct Reading {
    Instant at;
    double utilization;
};

// The pace is the slope of a least-squares line through the window's readings of the last hour
// (with the current one) when there are at least three of them ten minutes apart or more, else
// the average pace since the window began. Readings before the window's start (an earlier
// window) are ignored. The result is the moment the window reaches 100 % at that pace; none when
// the window has no reset time or length, is already full, is not filling, or would reset first.
// `history` is in time order.
std::optional<Instant> fullAt(const UsageWindow& window, Instant now, std::span<const Reading> history);

} // namespace UsageForecast
