#include "support/precise_wait.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#elif defined(__linux__)
#include <linux/futex.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
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
// A long pause does not spin: it sleeps to its deadline (with no timer slack) and ends a tenth of a
// millisecond or so late, a tenth of a percent of the default interval, which nobody notices; ten pauses a
// second spent awake for even 50 µs each were a tenth of what waiting at the default interval cost.
constexpr auto kShortPause = std::chrono::milliseconds(5);
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

// The pause itself: sleep until a little before the deadline (in turns of at most slice), then stay awake.
template <typename Stopped, typename Sleep>
void SleepUntilWith(Clock::time_point deadline, const Stopped& isStopped, const Sleep& sleepUntil,
                    Clock::duration slice) {
    TakeNoTimerSlack();
    const bool longPause = deadline - Clock::now() > kShortPause;
    for (;;) {
        if (isStopped()) return;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return;
        const Clock::duration left = deadline - now;
        const Clock::duration lead = longPause ? Clock::duration::zero() : Clock::duration(PreciseWaitLead());
        if (left <= lead) break;
        const Clock::time_point wake = now + std::min(left - lead, slice);
        sleepUntil(wake);
        if (isStopped()) return;
        Learn(std::chrono::duration_cast<nanoseconds>(Clock::now() - wake));
    }
    // The last stretch is spent awake. Not yielding: on a busy machine a yield hands the processor to the
    // others for a whole time slice, which made the pause later than a plain sleep; a thread just woken from
    // sleep keeps it for these few microseconds.
    while (Clock::now() < deadline)
        if (isStopped()) return;
}

Clock::time_point DeadlineIn(std::int64_t microseconds) {
    const Clock::time_point now = Clock::now();
    const auto longest =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::time_point::max() - now);
    return now + std::chrono::microseconds(std::clamp<std::int64_t>(microseconds, 0, longest.count()));
}

}  // namespace

void StopFlag::Set() noexcept {
    value_.store(1);
#ifdef _WIN32
    WakeByAddressAll(const_cast<std::int32_t*>(reinterpret_cast<volatile std::int32_t*>(&value_)));
#elif defined(__linux__)
    const int saved = errno;  // a signal handler must leave errno as it found it
    syscall(SYS_futex, reinterpret_cast<std::int32_t*>(&value_), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr,
            nullptr, 0);
    errno = saved;
#endif
}

void StopFlag::SleepUntil(Clock::time_point deadline) const {
    static_assert(sizeof(value_) == sizeof(std::int32_t) && std::atomic<std::int32_t>::is_always_lock_free,
                  "the system waits on the flag's own word");
    if (IsSet()) return;
#ifdef _WIN32
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return;
    std::int32_t unset = 0;
    WaitOnAddress(const_cast<std::int32_t*>(reinterpret_cast<const volatile std::int32_t*>(&value_)), &unset,
                  sizeof unset, static_cast<DWORD>(std::min<std::int64_t>(left, INFINITE - 1)));
#elif defined(__linux__)
    // An absolute deadline on the monotonic clock, which is the steady clock's: a wake-up for any other
    // reason (a signal) simply returns, and the caller sleeps again for what is left.
    const auto since = deadline.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    if (seconds.count() < 0) return;
    const timespec at{static_cast<time_t>(seconds.count()),
                      static_cast<long>(std::chrono::duration_cast<nanoseconds>(since - seconds).count())};
    syscall(SYS_futex, const_cast<std::int32_t*>(reinterpret_cast<const std::int32_t*>(&value_)),
            FUTEX_WAIT_BITSET_PRIVATE, 0, &at, nullptr, FUTEX_BITSET_MATCH_ANY);
#else
    // Elsewhere the flag is looked at every 20 ms.
    std::this_thread::sleep_until(std::min(deadline, Clock::now() + std::chrono::milliseconds(20)));
#endif
}

nanoseconds PreciseWaitLead() {
    return nanoseconds(leadNs.load(std::memory_order_relaxed) + kExtraNs);
}

void SleepUntilPrecisely(Clock::time_point deadline, const std::function<bool()>& stopped,
                         std::chrono::milliseconds stopCheck) {
    SleepUntilWith(
        deadline, [&] { return stopped && stopped(); },
        [](Clock::time_point wake) { std::this_thread::sleep_until(wake); },
        std::max<Clock::duration>(stopCheck, std::chrono::milliseconds(1)));
}

void SleepUntilPrecisely(Clock::time_point deadline, const StopFlag& stop) {
    SleepUntilWith(
        deadline, [&] { return stop.IsSet(); }, [&](Clock::time_point wake) { stop.SleepUntil(wake); },
        Clock::duration::max());
}

void SleepPrecisely(std::int64_t microseconds, const std::function<bool()>& stopped,
                    std::chrono::milliseconds stopCheck) {
    SleepUntilPrecisely(DeadlineIn(microseconds), stopped, stopCheck);
}

void SleepPrecisely(std::int64_t microseconds, const StopFlag& stop) {
    SleepUntilPrecisely(DeadlineIn(microseconds), stop);
}

}  // namespace tandrel
