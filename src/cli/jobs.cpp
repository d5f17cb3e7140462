#include "cli/jobs.h"

#include <algorithm>
#include <cstdlib>

namespace kestrane {

Jobs jobs_asked() {
    const char* setting = std::getenv(kJobsVariable);
    if (setting == nullptr || *setting == '\0') return {};
    char* end = nullptr;
    unsigned long asked = std::strtoul(setting, &end, 10);
    if (*end != '\0' || asked == 0) return {};
    if (asked == 1) return {1, false};
    return {std::min<std::size_t>(asked, kMostJobs), true};
}

}  // namespace kestrane
