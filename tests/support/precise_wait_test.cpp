#include "support/precise_wait.h"

#include <gtest/gtest.h>

#include <cstdint>

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

}  // namespace
}  // namespace tandrel
