// How many things the run does at once: the KESTRANE_JOBS setting.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

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
    // A setting that is no number from 1 to kMostJobs (as typed): ignored,
    // and said so, as if unset.
    std::optional<std::string> ignored_setting;
};

Jobs jobs_asked();

}  // namespace kestrane
