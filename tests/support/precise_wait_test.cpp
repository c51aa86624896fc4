#include "support/precise_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace tandrel {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Its precision is measured in bench/ (pause_1ms); here only what must hold however busy the machine is.
TEST(PreciseWait, NeverEndsBeforeItsDeadline) {
    for (const auto pause : {0us, 30us, 400us, 1500us}) {
        const Clock::time_point deadline = Clock::now() + pause;
        SleepUntilPrecisely(deadline);
        EXPECT_GE(Clock::now(), deadline) << pause.count();
    }
    const Clock::time_point before = Clock::now();
    SleepPrecisely(700);
    EXPECT_GE(Clock::now() - before, 700us);
    SleepPrecisely(-5);  // none
}

TEST(PreciseWait, AStopEndsEvenAnAbsurdPause) {
    int asked = 0;
    const auto stopped = [&] { return ++asked >= 3; };
    SleepPrecisely(INT64_MAX, stopped, 1ms);
    EXPECT_EQ(asked, 3);
    asked = 0;
    SleepUntilPrecisely(Clock::time_point::max(), stopped, 1ms);
    EXPECT_EQ(asked, 3);
}

TEST(PreciseWait, TheLeadStaysWithinAMillisecond) {
    for (int i = 0; i < 20; ++i)
        SleepPrecisely(200);
    EXPECT_GT(PreciseWaitLead(), 0ns);
    EXPECT_LE(PreciseWaitLead(), 1100us);
}

TEST(StopFlag, APauseOnTheFlagEndsOnTimeOrAtTheStop) {
    StopFlag stop;
    for (const auto pause : {0us, 300us, 1500us, 8000us}) {
        const Clock::time_point deadline = Clock::now() + pause;
        SleepUntilPrecisely(deadline, stop);
        EXPECT_GE(Clock::now(), deadline) << pause.count();
    }
    // Set before the pause: none at all, however long; cleared, the flag is slept on again.
    stop.Set();
    EXPECT_TRUE(stop.IsSet());
    SleepPrecisely(INT64_MAX, stop);
    SleepUntilPrecisely(Clock::time_point::max(), stop);
    stop.Clear();
    const Clock::time_point before = Clock::now();
    SleepPrecisely(2000, stop);
    EXPECT_GE(Clock::now() - before, 2ms);
}

TEST(StopFlag, AStopFromAnotherThreadWakesAnEndlessPause) {
    for (int round = 0; round < 3; ++round) {
        StopFlag stop;
        std::atomic<bool> ended{false};
        std::thread sleeper([&] {
            if (round == 0) SleepPrecisely(INT64_MAX, stop);
            if (round == 1) SleepUntilPrecisely(Clock::time_point::max(), stop);
            if (round == 2) stop.SleepUntil(Clock::time_point::max());
            ended = true;
        });
        std::this_thread::sleep_for(20ms);  // asleep by now, or about to look at the flag: either must end
        EXPECT_FALSE(ended) << round;
        stop.Set();
        sleeper.join();
        EXPECT_TRUE(ended) << round;
    }
}

#ifndef _WIN32
StopFlag* signalledFlag = nullptr;
void SetFromHandler(int) {
    if (signalledFlag) signalledFlag->Set();
}
void DoNothing(int) {}

// The headless program stops from its SIGTERM handler; a signal that only interrupts the sleep (the
// system call returns early) must not end the pause.
TEST(StopFlag, ASignalHandlerStopsAPauseAndAnInterruptionDoesNot) {
    StopFlag stop;
    struct sigaction action {};
    action.sa_handler = &DoNothing;
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    std::atomic<bool> ended{false};
    Clock::time_point deadline = Clock::now() + 150ms;
    std::thread sleeper([&] {
        SleepUntilPrecisely(deadline, stop);
        ended = true;
    });
    std::this_thread::sleep_for(30ms);
    pthread_kill(sleeper.native_handle(), SIGUSR1);
    sleeper.join();
    EXPECT_GE(Clock::now(), deadline);

    signalledFlag = &stop;
    action.sa_handler = &SetFromHandler;
    ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);
    ended = false;
    deadline = Clock::time_point::max();
    std::thread endless([&] {
        SleepUntilPrecisely(deadline, stop);
        ended = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(ended);
    raise(SIGUSR1);  // handled on this thread: the sleeper is woken by the flag, not by the signal
    endless.join();
    EXPECT_TRUE(ended);
    signalledFlag = nullptr;
    sigaction(SIGUSR1, &previous, nullptr);
}
#endif

}  // namespace
}  // namespace tandrel
