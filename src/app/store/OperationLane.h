#pragma once

// moc cannot parse the C++20 headers; it needs none of these.
#ifndef Q_MOC_RUN
#include <coroutine>
#include <deque>
#include <memory>
#include <utility>
#endif

// One at a time, in the order asked: the store's account operations (and the part of a refresh
// cycle that reads the live login) each take a turn on the lane, so a second click waits until the
// first operation has finished and then works on the state it left. Main thread only.
//
//     {
//         const OperationLane::Turn turn = co_await m_lane.take();
//         ... steps that must not interleave with another operation ...
//     } // the next waiting operation resumes here, before this one goes on
//
// The lane outlives its owner while turns are out: a coroutine that ends after the store is gone
// still gives its turn back safely, and operations still waiting are then never resumed.
class OperationLane {
    struct State {
        bool busy = false;
        bool closed = false;
        std::deque<std::coroutine_handle<>> waiting;
    };

public:
    class Turn {
    public:
        Turn() = default;
        explicit Turn(std::shared_ptr<State> state)
            : m_state(std::move(state)) {}
        Turn(Turn&& other) noexcept = default;
        Turn& operator=(Turn&& other) noexcept {
            if (this != &other) {
                release();
                m_state = std::move(other.m_state);
            }
            return *this;
        }
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        ~Turn() { release(); }

        // Gives the turn back early.
        void release() {
            if (const auto state = std::exchange(m_state, nullptr))
                OperationLane::handOver(*state);
        }

    private:
        std::shared_ptr<State> m_state;
    };

    OperationLane() = default;
    OperationLane(const OperationLane&) = delete;
    OperationLane& operator=(const OperationLane&) = delete;
    ~OperationLane() {
        m_state->closed = true;
        m_state->waiting.clear();
    }

    // Awaitable: resumes with a Turn once every earlier taker has given theirs back.
    auto take() {
        struct Awaiter {
            std::shared_ptr<State> state;
            bool await_ready() noexcept {
                if (state->busy)
                    return false;
                state->busy = true;
                return true;
            }
            void await_suspend(std::coroutine_handle<> h) { state->waiting.push_back(h); }
            Turn await_resume() { return Turn(state); }
        };
        return Awaiter{m_state};
    }

private:
    // The turn passes straight to the first waiter (busy stays true), which runs now up to its
    // next suspension.
    static void handOver(State& state) {
        if (state.closed || state.waiting.empty()) {
            state.busy = false;
            return;
        }
        const auto next = state.waiting.front();
        state.waiting.pop_front();
        next.resume();
    }

    std::shared_ptr<State> m_state = std::make_shared<State>();
};
