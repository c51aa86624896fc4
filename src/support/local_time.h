#pragma once

#include <chrono>
#include <ctime>

namespace tandrel {

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
