#pragma once
// Posts reported groups to a robot from a thread of its own, so that a slow, refusing or unreachable robot
// never holds up monitoring. Groups reported within a short window go out as one message; the robot's rate
// limit is kept by waiting and batching, never by dropping; the groups of a failed post are kept (up to
// kMaxKept) and tried again after growing waits until they go. A failure burst gives one line, however long
// it lasts, and one more line when the kept groups have gone. A robot that refuses for hours cannot make the
// queue grow without end either: past kMaxWaiting groups, further ones are only counted, and the next message
// says how many ("另有 N 个新团未发送"); the history file has them all.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "monitor/reported_group.h"
#include "notify/robot_message.h"

namespace tandrel {

struct RobotTarget {
    RobotKind kind = RobotKind::None;
    std::string address;  // UTF-8, used as given
    std::string secret;   // UTF-8; empty: unsigned
};

struct RobotPosterOptions {
    std::chrono::milliseconds batchWindow{3000};  // from the first group of a burst to the post
    int messagesPerWindow = 0;                    // 0: the kind's own limit per minute
    std::chrono::milliseconds rateWindow{60000};
    std::chrono::milliseconds retryDelay{30000};  // the first wait after a failed post; doubled each time
    std::chrono::milliseconds maxRetryDelay{600000};
    int timeoutSeconds = 15;
};

class RobotPoster {
  public:
    static constexpr std::size_t kMaxWaiting = 1000;

    // Called on the poster's thread with a UTF-8 line: the first failure of a burst.
    using FailureReport = std::function<void(const std::string& line)>;
    // Called on the poster's thread after every post (for tests and counters): ok, groups in the message.
    using PostObserver = std::function<void(bool ok, std::size_t groups)>;

    RobotPoster(RobotTarget target, RobotPosterOptions options, FailureReport report,
                PostObserver observer = {});
    // Abandons a post in flight and joins the thread; groups not yet sent are dropped (the history has them).
    ~RobotPoster();
    // Groups kept for a robot that keeps failing; beyond it the oldest give way (the history has them).
    static constexpr std::size_t kMaxKept = 1000;

    RobotPoster(const RobotPoster&) = delete;
    RobotPoster& operator=(const RobotPoster&) = delete;

    // Any thread; returns at once. Ignored while the target's kind is None.
    void Post(ReportedGroup group);
    // Later batches go to the new target (the settings dialog saved).
    void SetTarget(RobotTarget target);
    // At an orderly end: what is waiting goes out now, as far as the rate limit allows, without retries;
    // returns when it has gone or after timeout.
    void Drain(std::chrono::milliseconds timeout);

  private:
    struct Item {
        ReportedGroup group;
        int failures = 0;  // failed posts it was in
    };
    using Clock = std::chrono::steady_clock;

    void Run();
    int Limit() const;
    void PruneSent(Clock::time_point now);

    RobotPosterOptions options_;
    FailureReport report_;
    PostObserver observer_;

    std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    RobotTarget target_;
    std::deque<Item> pending_;
    std::size_t unsent_ = 0;         // groups turned away while pending_ was full, not yet told
    Clock::time_point due_{};        // when the pending groups go out
    Clock::time_point holdUntil_{};  // the robot said it had too many messages
    std::deque<Clock::time_point> sent_;
    bool failing_ = false;
    int failedPosts_ = 0;      // in a row; sets the next wait
    std::size_t dropped_ = 0;  // groups given up during this failure burst
    bool draining_ = false;
    bool inFlight_ = false;
    bool stopping_ = false;
    std::condition_variable idle_;
    std::atomic<bool> cancel_{false};
    std::thread thread_;
};

}  // namespace tandrel
