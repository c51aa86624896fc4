#pragma once
// A pause that ends on time. A plain sleep wakes when the scheduler gets round to it, a tenth of a
// millisecond or more after its deadline, and at the shortest monitoring interval that overshoot is a third
// of every pause. So the pause sleeps until a little before its deadline (about as early as sleeps have
// lately been late, at most half a millisecond; a pause of more than 5 ms at most a twentieth of one) and
// stays awake for the last stretch, which ends within microseconds of the deadline.

#include <chrono>
#include <cstdint>
#include <functional>

namespace tandrel {

// Waits until deadline, or until stopped (when given) answers true: it is asked at least every stopCheck,
// and on every turn of the last stretch.
void SleepUntilPrecisely(std::chrono::steady_clock::time_point deadline,
                         const std::function<bool()>& stopped = {},
                         std::chrono::milliseconds stopCheck = std::chrono::milliseconds(20));

// The same for a pause of so many microseconds (none when not above zero; an absurd one saturates). This is
// monitoring's pause between requests.
void SleepPrecisely(std::int64_t microseconds, const std::function<bool()>& stopped = {},
                    std::chrono::milliseconds stopCheck = std::chrono::milliseconds(20));

// How early a sleep is now asked to end (what the last sleeps overshot, as learnt so far).
std::chrono::nanoseconds PreciseWaitLead();

}  // namespace tandrel
