#include "net/request_pacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace tandrel {
namespace {

using namespace std::chrono_literals;
using Clock = RequestPacer::Clock;

// Sends as often as the pacer lets them, on a clock of the test's own: two an interval, a little over half an
// interval apart, whatever the interval.
TEST(RequestPacer, TwoAnIntervalEvenlySpaced) {
    for (const auto interval : {100ms, 40ms, 400ms}) {
        SCOPED_TRACE(interval.count());
        RequestPacer pacer;
        const Clock::time_point start{};
        std::vector<Clock::time_point> sent;
        for (Clock::time_point now = start + 1h; now < start + 1h + 10 * interval; now += 100us) {
            if (!pacer.SlotFree(now, interval)) continue;
            pacer.Sent(now);
            sent.push_back(now);
        }
        ASSERT_GE(sent.size(), 18u);
        EXPECT_LE(sent.size(), 20u);
        for (std::size_t i = 1; i < sent.size(); ++i)
            EXPECT_GE(sent[i] - sent[i - 1], RequestPacer::Spacing(interval));
        for (std::size_t i = 2; i < sent.size(); ++i)
            EXPECT_GE(sent[i] - sent[i - 2], interval);
    }
}

TEST(RequestPacer, AnIdlePacerIsFreeAtOnce) {
    RequestPacer pacer;
    const Clock::time_point now = Clock::now();
    EXPECT_TRUE(pacer.empty());
    EXPECT_TRUE(pacer.SlotFree(now, 100ms));
    pacer.Sent(now);
    EXPECT_FALSE(pacer.SlotFree(now + 50ms, 100ms));
    EXPECT_EQ(pacer.NextSlot(100ms), now + 51ms);
    EXPECT_TRUE(pacer.SlotFree(now + 10s, 100ms));
}

}  // namespace
}  // namespace tandrel
