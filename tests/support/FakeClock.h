#pragma once

#include "base/Clock.h"

#include <atomic>

namespace testsupport {

// A clock that stands still until a test moves it.
class FakeClock : public Clock {
public:
    explicit FakeClock(Instant start = DateTime::fromUnixSeconds(1'789'000'000))
        : m_now(start.time_since_epoch().count()) {}
    Instant now() const override { return Instant(Instant::duration(m_now.load())); }
    void set(Instant t) { m_now = t.time_since_epoch().count(); }
    void advance(Instant::duration d) { m_now += d.count(); }

private:
    std::atomic<Instant::duration::rep> m_now;
};

} // namespace testsupport
