#pragma once

#include <QFuture>
#include <QPromise>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

// Blocking work off the main thread: each job runs on a thread of its own and hands its result
// back through a QFuture (co_await it on the main thread). A thread per job costs some tens of
// microseconds — the store starts a handful per minute — and makes the hand-over of the job's
// captured data visible to ThreadSanitizer, which cannot see inside Qt's thread pool.
namespace Worker {

// Jobs started and not yet finished, in every group (tests wait for zero).
std::atomic<int>& jobsInFlight();

} // namespace Worker

// The jobs of one owner. close() (and the destructor) waits for every job under way, so that
// nothing a job uses is destroyed under it; a job asked for after that does not run, and its
// future finishes at once with a default-constructed result. run() and close() belong to one
// thread (the main thread).
class JobGroup {
public:
    // How a job gets its thread (tests make it fail).
    using Spawn = std::function<std::thread(std::function<void()>)>;
    explicit JobGroup(Spawn spawn = [](std::function<void()> f) { return std::thread(std::move(f)); })
        : m_spawn(std::move(spawn)) {}
    JobGroup(const JobGroup&) = delete;
    JobGroup& operator=(const JobGroup&) = delete;
    ~JobGroup() { close(); }

    template <class F>
    QFuture<std::invoke_result_t<F&>> run(F work) {
        using R = std::invoke_result_t<F&>;
        auto promise = std::make_shared<QPromise<R>>();
        QFuture<R> future = promise->future();
        promise->start();
        if (m_closed) {
            if constexpr (!std::is_void_v<R>)
                promise->addResult(R{});
            promise->finish();
            return future;
        }
        reap();
        auto done = std::make_shared<std::atomic<bool>>(false);
        ++Worker::jobsInFlight();
        auto job = [work = std::move(work), promise, done]() mutable {
            if constexpr (std::is_void_v<R>)
                work();
            else
                promise->addResult(work());
            promise->finish();
            --Worker::jobsInFlight();
            done->store(true);
        };
        // The job stays ours until a thread has it: when none can be had, it runs here rather
        // than not at all.
        auto shared = std::make_shared<decltype(job)>(std::move(job));
        try {
            m_threads.push_back({m_spawn([shared] { (*shared)(); }), done});
        } catch (const std::system_error&) {
            (*shared)();
        }
        return future;
    }

    // Waits for every job under way; later jobs do not run.
    void close() {
        m_closed = true;
        for (Entry& e : m_threads)
            if (e.thread.joinable())
                e.thread.join();
        m_threads.clear();
    }

private:
    struct Entry {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    // Joins the threads whose jobs have finished.
    void reap() {
        std::erase_if(m_threads, [](Entry& e) {
            if (!e.done->load())
                return false;
            e.thread.join();
            return true;
        });
    }

    Spawn m_spawn;
    std::vector<Entry> m_threads;
    bool m_closed = false;
};
