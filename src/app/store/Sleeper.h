#pragma once

// moc cannot parse the C++20 headers behind QCoro; it needs none of them.
#ifndef Q_MOC_RUN
#include <QCoro/QCoroTask>
#endif

#include <chrono>

// Waiting inside the store's coroutines, so that tests can run hours of polling in virtual time.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    // Resumes the awaiting coroutine on the main thread after `duration`.
    virtual QCoro::Task<> sleep(std::chrono::milliseconds duration) = 0;
};

// Real time, through a Qt timer on the calling (main) thread.
class TimerSleeper : public Sleeper {
public:
    QCoro::Task<> sleep(std::chrono::milliseconds duration) override;
};
