#pragma once

#include <QFuture>
#include <QPromise>

#include <atomic>
#include <memory>
#include <thread>
#include <type_traits>
#include <utility>

// Blocking work off the main thread: each job runs on a thread of its own and hands its result
// back through a QFuture (co_await it on the main thread). A thread per job costs some tens of
// microseconds — the store starts a handful per minute — and makes the hand-over of the job's
// captured data visible to ThreadSanitizer, which cannot see inside Qt's thread pool.
namespace Worker {

// Jobs started and not yet finished (tests wait for zero).
std::atomic<int>& jobsInFlight();

template <class F>
QFuture<std::invoke_result_t<F&>> run(F work) {
    using R = std::invoke_result_t<F&>;
    auto promise = std::make_shared<QPromise<R>>();
    QFuture<R> future = promise->future();
    promise->start();
    ++jobsInFlight();
    auto job = [work = std::move(work), promise]() mutable {
        if constexpr (std::is_void_v<R>)
            work();
        else
            promise->addResult(work());
        promise->finish();
        --jobsInFlight();
    };
    try {
        std::thread(std::move(job)).detach();
    } catch (const std::system_error&) {
        job(); // no thread to be had: do it here rather than not at all
    }
    return future;
}

} // namespace Worker
