#pragma once
// The watch's heartbeat: while monitoring runs and a store was read since the last beat, an address the
// merchant chose (a watchdog service's push monitor) is asked, at the start and then every interval. When
// the program crashes, is closed, the computer sleeps or loses the network, or no store can be read, the
// beats stop and the watchdog says so. The beats go from a thread of their own; a stop abandons one under
// way at once. A failing beat is one line until a beat succeeds again.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace tandrel {

struct HeartbeatOptions {
    using Clock = std::chrono::steady_clock;
    std::function<Clock::time_point()> now = [] { return Clock::now(); };
    // How often the thread looks at the clock and the reads while a beat waits for one.
    std::chrono::milliseconds look{500};
    int timeoutSeconds = 15;
};

class Heartbeat {
  public:
    using Clock = HeartbeatOptions::Clock;
    // Called on the heartbeat's thread (UTF-8).
    using LineSink = std::function<void(const std::string& line)>;

    // reads: how many good store reads there have been so far; watching: whether monitoring runs and no
    // stop was asked for (read from the heartbeat's thread, so it must be safe there).
    Heartbeat(std::function<std::uint64_t()> reads, std::function<bool()> watching, LineSink lines,
              HeartbeatOptions options = {});
    // Abandons a beat under way and joins the thread.
    ~Heartbeat();
    Heartbeat(const Heartbeat&) = delete;
    Heartbeat& operator=(const Heartbeat&) = delete;

    // Monitoring starts: the first beat goes once a store was read, then one every interval. An empty
    // address: no beats.
    void Start(std::string address, std::chrono::minutes interval);
    // Monitoring ended: no more beats, and one under way is abandoned.
    void Stop();

  private:
    void Run();

    std::function<std::uint64_t()> reads_;
    std::function<bool()> watching_;
    LineSink lines_;
    HeartbeatOptions options_;

    std::mutex mutex_;  // guards everything below but the atomics
    std::condition_variable wake_;
    std::string address_;
    Clock::duration interval_{};
    Clock::time_point due_{};
    std::uint64_t readsAtBeat_ = 0;
    bool failing_ = false;
    std::atomic<std::uint64_t> generation_{
        0};  // grows with every Start and Stop: a beat of another is dropped
    std::atomic<bool> active_{false};
    std::atomic<bool> quitting_{false};
    std::thread thread_;
};

}  // namespace tandrel
