#pragma once

#include <cstdint>
#include <functional>

namespace tandrel {

// Waits the given time while the thread's Qt event loop keeps dispatching events, so a window stays
// responsive during the monitoring cycle's pauses. The thread sleeps between events: a long wait costs almost
// no processor time. On a thread without an event dispatcher (a worker) it is a plain sleep.
//
// With stopped given, the wait also ends as soon as it answers true: it is asked after every event the wait
// dispatches and at least every kWaitStopCheckMs, so a stop set by a click, a close or a signal handler ends
// even a pause of days at once.
void WaitPumping(std::int64_t microseconds, const std::function<bool()>& stopped = {});

inline constexpr int kWaitStopCheckMs = 20;

}  // namespace tandrel
