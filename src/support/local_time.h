#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>

namespace tandrel {

// The latest moment a stored time may name, in seconds since 1970 (the year 2200): no time this program
// wrote is later, and every clock it uses holds it with room for arithmetic. (The system clock of Linux
// counts nanoseconds and ends in 2262, so the year 9999 overflowed it.)
inline constexpr std::int64_t kLatestStoredSecond = 7258118400;

// The broken-down local time of a moment (thread-safe on every platform).
inline std::tm LocalTime(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    return local;
}

}  // namespace tandrel
