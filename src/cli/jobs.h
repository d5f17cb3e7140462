// How many things the run does at once: the KESTRANE_JOBS setting, and the
// clock that tells when the work is slow enough for threads to pay.
#pragma once

#include <chrono>
#include <cstddef>

namespace kestrane {

// KESTRANE_JOBS: "1" one thing at a time; N > 1 at most N at once from the
// start; otherwise (unset, say) one at a time while each step is quick, and
// at most kDefaultJobs once steps turn out slow.
inline constexpr const char* kJobsVariable = "KESTRANE_JOBS";
// On a share each file operation waits for a network round trip, and K
// pairs at once take about 1/K of the time up to about 16 to 32.
inline constexpr std::size_t kDefaultJobs = 16;
inline constexpr std::size_t kMostJobs = 64;

struct Jobs {
    std::size_t most = kDefaultJobs;
    bool from_the_start = false;
};

Jobs jobs_asked();

// Threads make every file operation of a process a little dearer (about 5%
// here), which is not worth paying while the files are cached: they start
// once kSlowStepsBeforeThreads steps in a row have each taken longer than
// kSlowStep. A pair or a folder whose files are cached takes a small
// fraction of it; one that waits for a disk or a network takes longer.
inline constexpr std::size_t kSlowStepsBeforeThreads = 3;
inline constexpr std::chrono::microseconds kSlowStep{100};

// Times steps done one at a time. The clock is read without a system call
// where it counts (the vDSO on Linux).
struct StepClock {
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
