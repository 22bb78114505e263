#include "store/Sleeper.h"

#include <QCoro/QCoroTimer>

QCoro::Task<> TimerSleeper::sleep(std::chrono::milliseconds duration) {
    co_await QCoro::sleepFor(duration);
}
