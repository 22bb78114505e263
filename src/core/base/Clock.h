#pragma once

#include "base/DateTime.h"

// The source of the current time, so that tests can set it.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Instant now() const = 0;
    // The wall clock, for the components that default to it.
    static const Clock& system();
};

class SystemClock : public Clock {
public:
    Instant now() const override { return std::chrono::system_clock::now(); }
};

inline const Clock& Clock::system() {
    static const SystemClock clock;
    return clock;
}
