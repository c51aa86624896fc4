#include "monitor/alerts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tandrel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Records every play; a held sound blocks inside Play until released, as if the device were slow, which keeps
// sound B's flag up long enough to test its gate.
class FakePlayer : public SoundPlayer {
  public:
    void Play(int which) override {
        std::unique_lock lock(mutex_);
        sounds_.push_back(which);
        lastPlay_ = Clock::now();
        changed_.notify_all();
        changed_.wait(lock, [&] { return !held_[which]; });
    }
    void Hold(int which, bool held) {
        std::lock_guard lock(mutex_);
        held_[which] = held;
        changed_.notify_all();
    }
    bool WaitForPlays(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return sounds_.size() >= count; });
    }
    std::vector<int> Sounds() {
        std::lock_guard lock(mutex_);
        return sounds_;
    }
    Clock::time_point LastPlayTime() {
        std::lock_guard lock(mutex_);
        return lastPlay_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> sounds_;
    Clock::time_point lastPlay_;
    bool held_[2] = {false, false};
};

template <typename Predicate>
bool WaitUntil(Predicate predicate) {
    for (const auto deadline = Clock::now() + 10s; Clock::now() < deadline;) {
        if (predicate()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return predicate();
}

using Sounds = std::vector<int>;

Settings Enabled(bool distinct, bool swap, int repeatCount = 3) {
    Settings s;
    s.alertSoundEnabled = true;
    s.distinctSounds = distinct;
    s.swapSounds = swap;
    s.alertRepeatCount = repeatCount;
    return s;
}

class AlertsTest : public ::testing::Test {
  protected:
    void Make(std::chrono::milliseconds pause) {
        auto settings = [this] { return settings_; };
        alerts_.emplace(player_, settings, pause);
    }
    // As the cycle publishes it: old when it was reported before the last rescan.
    void Raise(std::string_view orderSn) {
        ReportedGroup group;
        group.orderSn = orderSn;
        group.old = std::find(oldOrders_.begin(), oldOrders_.end(), orderSn) != oldOrders_.end();
        alerts_->OnGroupReported(group);
    }
    // Runs one alert to the end of its sequence and gives the sounds it played.
    Sounds SoundsFor(const Settings& settings, std::string_view orderSn) {
        settings_ = settings;
        Make(1ms);
        const auto before = player_.Sounds().size();
        Raise(orderSn);
        EXPECT_TRUE(WaitUntil([&] {
            return player_.Sounds().size() > before && alerts_->soundAPlaying() == 0 &&
                   alerts_->soundBPlaying() == 0;
        }));
        alerts_.reset();
        const auto sounds = player_.Sounds();
        return {sounds.begin() + static_cast<std::ptrdiff_t>(before), sounds.end()};
    }

    FakePlayer player_;
    Settings settings_;
    std::vector<std::string> oldOrders_{"sn-old"};
    std::optional<Alerts> alerts_;
};

TEST_F(AlertsTest, TheSettingsChooseTheSound) {
    struct Case {
        bool distinct, swap;
        int repeatCount;
        const char* orderSn;
        Sounds expected;
    };
    const Case cases[] = {
        // A new group: A, repeated. An old group: B, once whatever the count.
        {true, false, 3, "sn-new", {0, 0, 0}},
        {true, false, 5, "sn-old", {1}},
        // Old orders match byte for byte.
        {true, false, 3, "SN-OLD", {0, 0, 0}},
        // Without distinct sounds every group is new.
        {false, false, 3, "sn-old", {0, 0, 0}},
        {false, true, 3, "sn-old", {1}},
        // The swap exchanges the sounds started.
        {true, true, 3, "sn-new", {1}},
        {true, true, 2, "sn-old", {0, 0}},
        // A count below 1 still plays once.
        {true, false, 0, "sn-new", {0}},
        {true, false, -4, "sn-new", {0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SoundsFor(Enabled(c.distinct, c.swap, c.repeatCount), c.orderSn), c.expected)
            << c.orderSn << " distinct " << c.distinct << " swap " << c.swap << " count " << c.repeatCount;
    }
    oldOrders_.clear();  // no rescan yet
    EXPECT_EQ(SoundsFor(Enabled(true, false, 1), "sn-old"), (Sounds{0}));
}

TEST_F(AlertsTest, DisabledAlertsAreSilentButTheButtonsStillPlay) {
    settings_ = Enabled(true, false);
    settings_.alertSoundEnabled = false;
    Make(1h);
    Raise("sn-new");
    Raise("sn-old");
    alerts_->TestPlay(1);
    ASSERT_TRUE(player_.WaitForPlays(1));
    alerts_.reset();  // joins every worker: any alert started would have played by now
    EXPECT_EQ(player_.Sounds(), (Sounds{1}));
}

TEST_F(AlertsTest, RepeatCountOneClearsTheFlagAfterOneWait) {
    settings_ = Enabled(false, false, 1);
    Make(200ms);
    Raise("sn");
    ASSERT_TRUE(player_.WaitForPlays(1));
    EXPECT_EQ(alerts_->soundAPlaying(), 1);
    ASSERT_TRUE(WaitUntil([&] { return alerts_->soundAPlaying() == 0; }));
    EXPECT_GE(Clock::now() - player_.LastPlayTime(), 200ms);
    EXPECT_EQ(player_.Sounds(), (Sounds{0}));
}

TEST_F(AlertsTest, NewGroupsDuringASequenceGiveOneSequence) {
    settings_ = Enabled(false, false, 3);
    Make(30ms);
    Raise("sn-1");
    ASSERT_TRUE(WaitUntil([&] { return alerts_->soundAPlaying() == 1; }));
    Raise("sn-2");
    Raise("sn-3");
    ASSERT_TRUE(WaitUntil([&] { return alerts_->soundAPlaying() == 0; }));
    EXPECT_EQ(player_.Sounds(), (Sounds{0, 0, 0}));
    // The gate opens again once the sequence has ended.
    Raise("sn-4");
    EXPECT_TRUE(player_.WaitForPlays(4));
}

TEST_F(AlertsTest, EachKindIsGatedByTheFlagOfItsUnswappedSound) {
    settings_ = Enabled(true, true, 1);
    Make(1h);
    // Sound A's sequence is running: a new group (which would play B) waits, an old group (A) does not.
    alerts_->TestPlay(0);
    ASSERT_TRUE(WaitUntil([&] { return alerts_->soundAPlaying() == 1; }));
    Raise("sn-new");
    Raise("sn-old");
    ASSERT_TRUE(player_.WaitForPlays(2));
    alerts_.reset();
    EXPECT_EQ(player_.Sounds(), (Sounds{0, 0}));

    // Sound B is still starting: an old group (which would play A) waits, a new group (B) does not.
    Make(1h);
    player_.Hold(1, true);
    alerts_->TestPlay(1);
    ASSERT_TRUE(player_.WaitForPlays(3));
    EXPECT_EQ(alerts_->soundBPlaying(), 1);
    Raise("sn-old");
    Raise("sn-new");
    ASSERT_TRUE(player_.WaitForPlays(4));
    player_.Hold(1, false);
    alerts_.reset();
    EXPECT_EQ(player_.Sounds(), (Sounds{0, 0, 1, 1}));
}

TEST_F(AlertsTest, TestPlayOverlapsARunningSequenceAndDestructionStopsBoth) {
    settings_ = Enabled(false, false, 3);
    Make(1h);
    Raise("sn");
    ASSERT_TRUE(WaitUntil([&] { return alerts_->soundAPlaying() == 1; }));
    alerts_->TestPlay(0);
    ASSERT_TRUE(player_.WaitForPlays(2));
    // Both workers are in an hour-long wait; destruction must not sit it out.
    const auto start = Clock::now();
    alerts_.reset();
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_EQ(player_.Sounds(), (Sounds{0, 0}));
}

}  // namespace
}  // namespace tandrel
