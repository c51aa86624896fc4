#include "net/wait_pumping.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <thread>

namespace tandrel {

void WaitPumping(std::int64_t microseconds) {
    if (microseconds <= 0) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(microseconds);
    if (QCoreApplication::instance() == nullptr || QThread::currentThread()->eventDispatcher() == nullptr) {
        std::this_thread::sleep_until(deadline);
        return;
    }
    // A nested loop woken by a precise timer: events are dispatched as they come, and nothing spins.
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        if (left.count() < 1000) {
            // Below the timer's resolution: handle what is pending, then sleep out the rest.
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            std::this_thread::sleep_until(deadline);
            return;
        }
        timer.start(static_cast<int>(left.count() / 1000));
        loop.exec();
    }
}

}  // namespace tandrel
