#pragma once

#include <cstdint>

namespace tandrel {

// Waits the given time while the thread's Qt event loop keeps dispatching events, so a window stays
// responsive during the monitoring cycle's pauses. The thread sleeps between events: a long wait costs almost
// no processor time. On a thread without an event dispatcher (a worker) it is a plain sleep.
void WaitPumping(std::int64_t microseconds);

}  // namespace tandrel
