#include "net/request_pacer.h"

#include <algorithm>

namespace tandrel {

RequestPacer::Clock::time_point RequestPacer::NextSlot(Clock::duration interval) const {
    Clock::time_point next{};
    if (!sends_.empty()) next = sends_.back() + Spacing(interval);
    if (sends_.size() >= 2) next = std::max(next, sends_[sends_.size() - 2] + interval);
    return next;
}

bool RequestPacer::SlotFree(Clock::time_point now, Clock::duration interval) {
    while (!sends_.empty() && now - sends_.front() >= interval)
        sends_.pop_front();
    return now >= NextSlot(interval);
}

}  // namespace tandrel
