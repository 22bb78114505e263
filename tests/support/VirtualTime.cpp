#include "VirtualTime.h"

#include <QCoreApplication>
#include <QThreadPool>

#include "store/Worker.h"

#include <algorithm>
#include <thread>

namespace testsupport {

VirtualSleeper::~VirtualSleeper() {
    drain();
}

QCoro::Task<> VirtualSleeper::sleep(std::chrono::milliseconds duration) {
    m_requested.push_back(duration);
    co_await Awaiter{this, m_clock.now() + duration};
}

void VirtualSleeper::settle() {
    int quiet = 0;
    while (quiet < 5) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents();
        if (QThreadPool::globalInstance()->activeThreadCount() == 0 && Worker::jobsInFlight() == 0) {
            ++quiet;
        } else {
            quiet = 0;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (wakeOneDue(m_clock.now()))
            quiet = 0;
    }
}

bool VirtualSleeper::wakeOneDue(Instant until) {
    auto earliest = std::min_element(m_queue.begin(), m_queue.end(), [](const Entry& a, const Entry& b) {
        return a.when != b.when ? a.when < b.when : a.sequence < b.sequence;
    });
    if (earliest == m_queue.end() || earliest->when > until)
        return false;
    const Entry entry = *earliest;
    m_queue.erase(earliest);
    if (entry.when > m_clock.now())
        m_clock.set(entry.when);
    entry.handle.resume();
    return true;
}

void VirtualSleeper::advance(Instant::duration duration) {
    const Instant until = m_clock.now() + duration;
    settle();
    while (wakeOneDue(until))
        settle();
    m_clock.set(until);
    settle();
}

void VirtualSleeper::drain() {
    for (int round = 0;
         round < 1000 && (!m_queue.empty() || QThreadPool::globalInstance()->activeThreadCount() > 0 ||
                          Worker::jobsInFlight() > 0);
         ++round) {
        std::vector<Entry> all;
        all.swap(m_queue);
        for (const Entry& e : all)
            e.handle.resume();
        settle();
    }
}

} // namespace testsupport
