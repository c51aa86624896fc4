#pragma once
// Posts reported groups and notices to one robot from a thread of its own, so that a slow, refusing or
// unreachable robot never holds up monitoring. What arrives within a short window goes out as one message;
// the robot's rate limit is kept by waiting and batching, never by dropping; the items of a failed post are
// kept (up to kMaxKept) and tried again after growing waits until they go. A failure burst gives one line,
// however long it lasts, and one more line when the kept items have gone. A robot that refuses for hours
// cannot make the queue grow without end either: past kMaxWaiting groups, further ones are only counted,
// and the next message says how many ("另有 N 个新团未发送"); the history file has them all.
//
// With an outbox file, what has not been confirmed outlives the run: it is saved there (from the poster's
// thread) while the robot fails and at the end of the run, and the next run's poster sends it, once. An
// item counts as sent only when the robot's answer says so.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>

#include "monitor/reported_group.h"
#include "notify/robot_message.h"
#include "notify/robot_outbox.h"
#include "notify/watch_notice.h"

namespace tandrel {

struct RobotTarget {
    RobotKind kind = RobotKind::None;
    std::string address;  // UTF-8, used as given; empty: the kind's own address
    std::string secret;   // UTF-8; empty: unsigned
};

struct RobotPosterOptions {
    std::chrono::milliseconds batchWindow{3000};  // from the first group of a burst to the post
    int messagesPerWindow = 0;                    // 0: the kind's own limit per minute
    std::chrono::milliseconds rateWindow{60000};
    std::chrono::milliseconds retryDelay{30000};  // the first wait after a failed post; doubled each time
    std::chrono::milliseconds maxRetryDelay{600000};
    int timeoutSeconds = 15;
    std::filesystem::path outboxFile;  // empty: nothing outlives the run
    std::string label = "机器人";      // how the lines name this robot ("机器人2")
};

// How much of an end's time is kept for abandoning a post in flight and saving what it carried.
std::chrono::milliseconds SaveMargin(std::chrono::milliseconds timeout);

class RobotPoster {
  public:
    static constexpr std::size_t kMaxWaiting = kOutboxMaxEntries;
    // Groups kept for a robot that keeps failing; beyond it the oldest give way (the history has them).
    static constexpr std::size_t kMaxKept = kOutboxMaxEntries;
    // Notices are bounded on their own and never give way to groups: each is told once only.
    static constexpr std::size_t kMaxNotices = kOutboxMaxNotices;

    // Called on the poster's thread (or the constructor's, for the outbox's own problems) with a UTF-8 line.
    using FailureReport = std::function<void(const std::string& line)>;
    // Called on the poster's thread after every post (for tests and counters): ok, items in the message.
    using PostObserver = std::function<void(bool ok, std::size_t groups)>;

    // Reads the outbox (when the target is a robot): its items go out after one batch window.
    RobotPoster(RobotTarget target, RobotPosterOptions options, FailureReport report,
                PostObserver observer = {});
    // Abandons a post in flight and joins the thread; what waits is saved to the outbox.
    ~RobotPoster();

    RobotPoster(const RobotPoster&) = delete;
    RobotPoster& operator=(const RobotPoster&) = delete;

    // Any thread; returns at once. Ignored while the target's kind is None.
    void Post(ReportedGroup group);
    void PostNotice(WatchNotice notice);
    // Later batches go to the new target (the settings dialog saved). None puts the poster to sleep: what
    // waits stays in the outbox for a robot set later. A post under way settles first (what it delivered
    // leaves the outbox, what failed is saved into it). The same target again changes nothing: its rate
    // limit and its waits hold.
    void SetTarget(RobotTarget target);
    // At an orderly end: what is waiting goes out now, as far as the rate limit allows, without retries;
    // what has not gone when the drain is abandoned (a post in flight with it) is saved to the outbox, with
    // one line. Several posters drain side by side: begin each, wait for each until the deadline, abandon
    // each, then finish each (which waits for the save, at most until its deadline).
    void BeginDrain();
    bool WaitDrained(std::chrono::steady_clock::time_point deadline);
    void AbandonDrain();
    void FinishDrain(std::chrono::steady_clock::time_point deadline);
    // All four for this poster alone, within timeout.
    void Drain(std::chrono::milliseconds timeout);
    // The order numbers of the groups read from the outbox at start (they are on their way already).
    std::unordered_set<std::string> CarriedOrderNumbers() const;

  private:
    struct Item {
        RobotItem item;
        int failures = 0;  // failed posts it was in
    };
    using Clock = std::chrono::steady_clock;

    void Run();
    void Enqueue(RobotItem item);
    void ApplyTargetLocked(RobotTarget target);
    // Drops the oldest groups past kMaxKept (counted) and the oldest notices past kMaxNotices.
    void TrimLocked();
    int Limit() const;
    void PruneSent(Clock::time_point now);
    void LoadOutboxLocked();
    // Writes pending_ to the outbox; called with the lock held, writes without it. False: not written (and
    // said in a line).
    bool SaveOutboxNow(std::unique_lock<std::mutex>& lock);
    // The end of a drain: saves what is left and says so in one line.
    void FinishDrainLocked(std::unique_lock<std::mutex>& lock, const std::string& why);
    void Report(std::unique_lock<std::mutex>& lock, const std::string& line);

    RobotPosterOptions options_;
    FailureReport report_;
    PostObserver observer_;

    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    RobotTarget target_;
    std::optional<RobotTarget> nextTarget_;  // set while a post was in flight
    std::deque<Item> pending_;
    std::size_t unsent_ = 0;         // groups turned away while pending_ was full, not yet told
    Clock::time_point due_{};        // when the pending groups go out
    Clock::time_point holdUntil_{};  // the robot said it had too many messages
    std::deque<Clock::time_point> sent_;
    bool failing_ = false;
    int failedPosts_ = 0;      // in a row; sets the next wait
    std::size_t dropped_ = 0;  // groups given up during this failure burst
    bool outboxLoaded_ = false;
    bool outboxHolds_ = false;  // the file holds something (so a success must rewrite it)
    bool dirty_ = false;        // pending_ changed since the last save
    Clock::time_point lastSave_{};
    std::unordered_set<std::string> carried_;
    bool draining_ = false;
    bool drainFailed_ = false;   // a post of this drain failed: the rest is kept, not tried
    bool drainExpired_ = false;  // the deadline passed: the post in flight was abandoned
    bool drained_ = false;
    bool inFlight_ = false;
    bool stopping_ = false;
    std::condition_variable idle_;
    std::atomic<bool> cancel_{false};
    std::thread thread_;
};

}  // namespace tandrel
