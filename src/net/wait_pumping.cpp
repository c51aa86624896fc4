#include "net/wait_pumping.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>

#include "support/precise_wait.h"

namespace tandrel {

void WaitPumping(std::int64_t microseconds, const std::function<bool()>& stopped) {
    if (microseconds <= 0) return;
    using std::chrono::steady_clock;
    const auto start = steady_clock::now();
    // A pause read from a text may be absurdly long: the deadline saturates instead of overflowing.
    const auto longest =
        std::chrono::duration_cast<std::chrono::microseconds>(steady_clock::time_point::max() - start)
            .count();
    const auto deadline = start + std::chrono::microseconds(std::min(microseconds, longest));
    const auto isStopped = [&] { return stopped && stopped(); };
    const auto left = [&] {
        return std::chrono::duration_cast<std::chrono::microseconds>(deadline - steady_clock::now()).count();
    };
    // The longest stretch without asking whether to stop.
    const std::int64_t slice =
        stopped ? std::int64_t{kWaitStopCheckMs} * 1000 : INT32_MAX * std::int64_t{1000};
    if (QCoreApplication::instance() == nullptr || QThread::currentThread()->eventDispatcher() == nullptr) {
        SleepUntilPrecisely(deadline, stopped, std::chrono::milliseconds(kWaitStopCheckMs));
        return;
    }
    // A nested loop woken by a precise timer: events are dispatched as they come, and nothing spins.
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    for (;;) {
        if (isStopped()) return;
        const std::int64_t rest = left();
        if (rest <= 0) return;
        if (rest < 1000) {
            // Below the timer's resolution: handle what is pending, then sleep out the rest.
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            if (isStopped()) return;
            SleepUntilPrecisely(deadline, stopped);
            return;
        }
        timer.start(static_cast<int>(std::min(rest, slice) / 1000));
        loop.exec();
    }
}

}  // namespace tandrel
