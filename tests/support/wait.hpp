// Waiting in tests for something another thread or process does, with a
// bound, and timing what a call took.
#ifndef TESTS_SUPPORT_WAIT_HPP
#define TESTS_SUPPORT_WAIT_HPP

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace zvtest {

using Clock = std::chrono::steady_clock;

inline int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Whether `condition` became true within `ms` (looked at every 2 ms).
inline bool WaitFor(const std::function<bool()>& condition, int ms) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace zvtest

#endif
