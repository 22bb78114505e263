#pragma once

#include "FakeClock.h"
#include "store/Sleeper.h"

#include <coroutine>
#include <vector>

namespace testsupport {

// Sleeps of the store in virtual time: a sleeping coroutine waits in a queue until the test
// moves the clock past its wake-up time. Between steps the Qt event loop runs until every worker
// job has finished and its result has been delivered, so hours of polling take milliseconds.
class VirtualSleeper : public Sleeper {
public:
    explicit VirtualSleeper(FakeClock& clock)
        : m_clock(clock) {}
    ~VirtualSleeper() override;

    QCoro::Task<> sleep(std::chrono::milliseconds duration) override;

    // Wakes every sleeper due until `clock.now() + duration`, in time order, then sets the clock.
    void advance(Instant::duration duration);
    // Runs the event loop until no worker job runs and nothing is due now.
    void settle();
    // Wakes everything that still sleeps, whatever its time (teardown, after the store is gone).
    void drain();

    std::size_t sleeping() const { return m_queue.size(); }
    // Every duration asked for, in order.
    const std::vector<std::chrono::milliseconds>& requested() const { return m_requested; }
    void clearRequested() { m_requested.clear(); }

private:
    struct Entry {
        Instant when;
        std::uint64_t sequence;
        std::coroutine_handle<> handle;
    };
    struct Awaiter {
        VirtualSleeper* sleeper;
        Instant when;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> h) {
            sleeper->m_queue.push_back({when, sleeper->m_sequence++, h});
        }
        void await_resume() const noexcept {}
    };
    bool wakeOneDue(Instant until);

    FakeClock& m_clock;
    std::vector<Entry> m_queue;
    std::uint64_t m_sequence = 0;
    std::vector<std::chrono::milliseconds> m_requested;
};

} // namespace testsupport
