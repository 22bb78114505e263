#pragma once

#include "base/DateTime.h"

// The source of the current time, so that tests can set it.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Instant now() const = 0;
};

class SystemClock : public Clock {
public:
    Instant now() const override { return std::chrono::system_clock::now(); }
};
