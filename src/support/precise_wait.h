#pragma once
// A pause that ends on time. A plain sleep wakes when the scheduler gets round to it, a tenth of a
// millisecond or more after its deadline, and at the shortest monitoring interval that overshoot is a third
// of every pause. So a pause of up to 5 ms sleeps until a little before its deadline (about as early as
// sleeps have lately been late, at most half a millisecond) and stays awake for the last stretch, which ends
// within microseconds of the deadline. A longer pause, where that overshoot does not matter and the time
// awake would, sleeps to its deadline.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace tandrel {

// A stop that wakes a sleeping thread at once. A stop asked for by polling costs a wake-up every few
// milliseconds of every pause, and at the default interval those wake-ups were most of what monitoring cost
// while it waited; a thread asleep on this flag wakes once, at its deadline or at the stop.
class StopFlag {
  public:
    // Safe in a signal handler: an atomic store and one system call.
    void Set() noexcept;
    void Clear() noexcept { value_.store(0); }
    bool IsSet() const noexcept { return value_.load() != 0; }

    // Sleeps until deadline or until Set, whichever comes first (a spurious early wake is possible: the
    // caller looks at the clock).
    void SleepUntil(std::chrono::steady_clock::time_point deadline) const;

  private:
    std::atomic<std::int32_t> value_{0};  // the word the system's wait and wake act on
};

// Waits until deadline, or until stopped (when given) answers true: it is asked at least every stopCheck,
// and on every turn of the last stretch.
void SleepUntilPrecisely(std::chrono::steady_clock::time_point deadline,
                         const std::function<bool()>& stopped = {},
                         std::chrono::milliseconds stopCheck = std::chrono::milliseconds(20));

// The same, sleeping on stop: no wake-up before the deadline but the stop itself.
void SleepUntilPrecisely(std::chrono::steady_clock::time_point deadline, const StopFlag& stop);

// The same for a pause of so many microseconds (none when not above zero; an absurd one saturates). This is
// monitoring's pause between requests.
void SleepPrecisely(std::int64_t microseconds, const std::function<bool()>& stopped = {},
                    std::chrono::milliseconds stopCheck = std::chrono::milliseconds(20));
void SleepPrecisely(std::int64_t microseconds, const StopFlag& stop);

// How early a sleep is now asked to end (what the last sleeps overshot, as learnt so far).
std::chrono::nanoseconds PreciseWaitLead();

}  // namespace tandrel
