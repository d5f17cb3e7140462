// When threads start: while the files are cached a step (a pair, a folder
// listed) takes a few microseconds, and threads would cost more than they
// save, as they make every file operation of the process a little dearer
// (about 5% here). Once kSlowStepsBeforeThreads steps in a row have each
// taken longer than kSlowStep, the steps wait for a disk or a network, and
// several at once pay.
#pragma once

#include <chrono>
#include <cstddef>

namespace kestrane {

inline constexpr std::size_t kSlowStepsBeforeThreads = 3;
inline constexpr std::chrono::microseconds kSlowStep{100};

// Times steps done one at a time. The clock is read without a system call
// where it counts (the vDSO on Linux).
struct SlowStartClock {
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
    std::size_t slow_in_a_row = 0;
    // Whether the steps up to now have turned out slow.
    bool slow_now() {
        auto now = std::chrono::steady_clock::now();
        slow_in_a_row = now - last > kSlowStep ? slow_in_a_row + 1 : 0;
        last = now;
        return slow_in_a_row >= kSlowStepsBeforeThreads;
    }
};

}  // namespace kestrane
