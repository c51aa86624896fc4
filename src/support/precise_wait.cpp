#include "support/precise_wait.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace tandrel {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::nanoseconds;

// Learnt from every sleep on every thread: it rises quickly with a late wake-up and falls slowly, so it
// follows the usual overshoot rather than the last one. A preempted sleep (late by milliseconds) must not
// buy milliseconds of spinning afterwards: the lead never exceeds kMostLead.
constexpr std::int64_t kFirstLeadNs = 200'000;
constexpr std::int64_t kMostLeadNs = 500'000;
constexpr std::int64_t kExtraNs = 20'000;  // besides the overshoot: the wake-up's own work
// A long pause spins at most this long: at the default interval of 100 ms the learnt lead (up to half a
// millisecond on a busy machine) spent awake before every pause was most of what waiting cost, for a
// precision that no one notices at that length.
constexpr auto kShortPause = std::chrono::milliseconds(5);
constexpr auto kLongPauseLead = std::chrono::microseconds(50);
std::atomic<std::int64_t> leadNs{kFirstLeadNs};

void Learn(nanoseconds late) {
    const std::int64_t seen = std::clamp<std::int64_t>(late.count(), 0, kMostLeadNs);
    const std::int64_t lead = leadNs.load(std::memory_order_relaxed);
    const std::int64_t next = seen > lead ? lead + (seen - lead) / 4 : lead - (lead - seen) / 16;
    leadNs.store(next, std::memory_order_relaxed);
}

// Linux lets a sleep end up to the thread's timer slack (50 µs by default) late so that wake-ups can be
// merged; a thread that waits precisely asks for none, which halves what is left to spin away.
void TakeNoTimerSlack() {
#ifdef __linux__
    thread_local const bool taken = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void)taken;
#endif
}

}  // namespace

nanoseconds PreciseWaitLead() {
    return nanoseconds(leadNs.load(std::memory_order_relaxed) + kExtraNs);
}

void SleepUntilPrecisely(Clock::time_point deadline, const std::function<bool()>& stopped,
                         std::chrono::milliseconds stopCheck) {
    TakeNoTimerSlack();
    const auto isStopped = [&] { return stopped && stopped(); };
    const Clock::duration slice = std::max<Clock::duration>(stopCheck, std::chrono::milliseconds(1));
    const bool longPause = deadline - Clock::now() > kShortPause;
    for (;;) {
        if (isStopped()) return;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return;
        const Clock::duration left = deadline - now;
        const Clock::duration lead =
            longPause ? std::min<Clock::duration>(PreciseWaitLead(), kLongPauseLead) : PreciseWaitLead();
        if (left <= lead) break;
        const Clock::time_point wake = now + std::min(left - lead, slice);
        std::this_thread::sleep_until(wake);
        Learn(std::chrono::duration_cast<nanoseconds>(Clock::now() - wake));
    }
    // The last stretch is spent awake. Not yielding: on a busy machine a yield hands the processor to the
    // others for a whole time slice, which made the pause later than a plain sleep; a thread just woken from
    // sleep keeps it for these few microseconds.
    while (Clock::now() < deadline)
        if (isStopped()) return;
}

void SleepPrecisely(std::int64_t microseconds, const std::function<bool()>& stopped,
                    std::chrono::milliseconds stopCheck) {
    const Clock::time_point now = Clock::now();
    const auto longest =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::time_point::max() - now);
    const std::chrono::microseconds pause(std::clamp<std::int64_t>(microseconds, 0, longest.count()));
    SleepUntilPrecisely(now + pause, stopped, stopCheck);
}

}  // namespace tandrel
