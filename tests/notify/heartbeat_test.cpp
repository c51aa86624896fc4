// The heartbeat asks its address while the watch reads stores, on time, and falls silent when nothing is
// read; a failing beat is one line; a stop abandons a beat under way.
#include "notify/heartbeat.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "sim/robot_sim.h"

namespace tandrel {
namespace {

using namespace std::chrono_literals;
using Clock = Heartbeat::Clock;

class HeartbeatTest : public ::testing::Test {
  protected:
    std::unique_ptr<Heartbeat> Make() {
        HeartbeatOptions options;
        options.now = [this] { return Clock::time_point(std::chrono::milliseconds(now_.load())); };
        options.look = 5ms;
        options.timeoutSeconds = 2;
        return std::make_unique<Heartbeat>([this] { return reads_.load(); },
                                           [this] { return watching_.load(); },
                                           [this](const std::string& line) {
                                               std::lock_guard lock(mutex_);
                                               lines_.push_back(line);
                                           },
                                           options);
    }
    void Advance(std::chrono::milliseconds by) { now_ += by.count(); }
    // Whether no further beat arrives while the heartbeat has had many looks at the clock.
    bool StaysAt(std::size_t count) {
        robot_.WaitForRequests(count + 1, 300ms);
        return robot_.Requests().size() == count;
    }
    std::vector<std::string> Lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

    sim::RobotSim robot_{sim::RobotStyle::PlainOk};
    std::atomic<std::int64_t> now_{1'000'000'000};
    std::atomic<std::uint64_t> reads_{7};
    std::atomic<bool> watching_{true};
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

TEST_F(HeartbeatTest, AskedAtTheStartOnceAStoreWasReadThenEveryIntervalAndNotWhileNothingIsRead) {
    auto beat = Make();
    const std::string address = robot_.baseUrl() + "/ping/abc?x=1";
    beat->Start(address, 5min);
    // Reads made before the start say nothing about the watch now.
    EXPECT_TRUE(StaysAt(0));
    ++reads_;
    ASSERT_TRUE(robot_.WaitForRequests(1, 10s));
    const auto first = robot_.Requests()[0];
    EXPECT_EQ(first.method, "GET");
    EXPECT_EQ(first.target, "/ping/abc?x=1");  // used as given

    ++reads_;
    Advance(4min + 59s);
    EXPECT_TRUE(StaysAt(1));
    Advance(1s);
    ASSERT_TRUE(robot_.WaitForRequests(2, 10s));

    // Due, but nothing read since: silent, so the watchdog alerts; the first read after it beats at once.
    Advance(5min);
    EXPECT_TRUE(StaysAt(2));
    Advance(7min);
    EXPECT_TRUE(StaysAt(2));
    ++reads_;
    ASSERT_TRUE(robot_.WaitForRequests(3, 10s));

    // Monitoring stopped: no beat, whatever is read.
    ++reads_;
    Advance(1h);
    watching_ = false;
    EXPECT_TRUE(StaysAt(3));
    beat->Stop();
    watching_ = true;
    EXPECT_TRUE(StaysAt(3));
    EXPECT_TRUE(Lines().empty());

    // Without an address there is no beat.
    beat->Start("", 5min);
    ++reads_;
    EXPECT_TRUE(StaysAt(3));
}

TEST_F(HeartbeatTest, AFailingBeatIsOneLineUntilOneSucceeds) {
    robot_.SetFault(sim::RobotFault::Status500);
    auto beat = Make();
    beat->Start(robot_.baseUrl() + "/hb", 1min);
    // The clock moves on in steps until the next beat went: never past one the heartbeat has not seen yet.
    const auto nextBeat = [&](std::size_t count) {
        ++reads_;
        for (int step = 0; step < 1000 && !robot_.WaitForRequests(count, 10ms); ++step)
            Advance(1s);
        return robot_.Requests().size() == count;
    };
    for (std::size_t i = 1; i <= 3; ++i)
        ASSERT_TRUE(nextBeat(i));
    robot_.SetFault(sim::RobotFault::None);
    ASSERT_TRUE(nextBeat(4));
    for (int i = 0; i < 200 && Lines().size() < 2; ++i)
        std::this_thread::sleep_for(10ms);
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "心跳请求失败：HTTP 500；恢复前不再提示");
    EXPECT_EQ(lines[1], "心跳请求已恢复");
}

TEST_F(HeartbeatTest, AStopAbandonsABeatUnderWayAtOnce) {
    robot_.SetFault(sim::RobotFault::Stall);
    robot_.SetStallSeconds(30);
    auto beat = Make();
    beat->Start(robot_.baseUrl() + "/hb", 1min);
    ++reads_;
    ASSERT_TRUE(robot_.WaitForRequests(1, 10s));
    const auto asked = std::chrono::steady_clock::now();
    watching_ = false;  // the stop is asked for: the beat's wait ends
    beat.reset();
    // Far below the robot's 30 s stall: the beat did not wait for its answer.
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s);
    EXPECT_TRUE(Lines().empty());  // an abandoned beat is no failure
}

}  // namespace
}  // namespace tandrel
