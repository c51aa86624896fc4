#pragma once
// Whether requests kept their pace, judged from the simulator's stamps. A stamp is taken when one of the
// simulator's worker threads reads the request, not when the client sent it: on a busy machine a worker now
// and then wakes late (12 ms has been seen), which shortens the gap to a later request by as much. A few
// such gaps are a busy machine's; a client that does not keep the pace shortens every second or third.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace tandrel::testing {

inline constexpr std::chrono::milliseconds kStampSlack{8};

// Each request that came sooner than interval less the slack after the request `apart` places before it,
// described; the requests taken in the order of their stamps (the simulator records them as its threads
// finish reading them, which need not be that order).
template <typename Request>
std::vector<std::string> TooSoon(std::vector<Request> requests, std::chrono::milliseconds interval,
                                 std::size_t apart) {
    std::stable_sort(requests.begin(), requests.end(),
                     [](const Request& a, const Request& b) { return a.at < b.at; });
    std::vector<std::string> soon;
    for (std::size_t i = apart; i < requests.size(); ++i) {
        const auto gap = requests[i].at - requests[i - apart].at;
        if (gap >= interval - kStampSlack) continue;
        soon.push_back(requests[i].target + " " +
                       std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(gap).count()) +
                       " µs after " + requests[i - apart].target + ", at " +
                       std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          requests[i].at - requests.front().at)
                                          .count()) +
                       " ms");
    }
    return soon;
}

// Whether the gaps found too short among that many requests are few enough to be late stamps.
inline ::testing::AssertionResult FewEnoughToBeLateStamps(const std::vector<std::string>& tooSoon,
                                                          std::size_t requests) {
    if (tooSoon.size() <= std::max<std::size_t>(2, requests / 10)) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    failure << tooSoon.size() << " of " << requests << " requests came too soon:";
    for (const std::string& s : tooSoon)
        failure << "\n  " << s;
    return failure;
}

}  // namespace tandrel::testing
