#pragma once
// The total pace of requests to the back end: at most two per interval, evenly spaced (a little over half an
// interval apart), so that no second holds more than twice as many requests as it holds intervals, even when
// the replies come in bunches. The fast schedule and the store list's checks at start keep it alike.

#include <chrono>
#include <deque>

namespace tandrel {

class RequestPacer {
  public:
    using Clock = std::chrono::steady_clock;

    // Whether a request may go out now; forgets the sends older than an interval.
    bool SlotFree(Clock::time_point now, Clock::duration interval);
    void Sent(Clock::time_point at) { sends_.push_back(at); }
    // When the next request may go out (the clock's epoch when nothing was sent).
    Clock::time_point NextSlot(Clock::duration interval) const;
    bool empty() const { return sends_.empty(); }
    static Clock::duration Spacing(Clock::duration interval) {
        return interval / 2 + std::chrono::milliseconds(1);
    }

  private:
    std::deque<Clock::time_point> sends_;  // every request's start within the last interval
};

}  // namespace tandrel
