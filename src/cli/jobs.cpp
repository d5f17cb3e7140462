#include "cli/jobs.h"

#include <cstdlib>

namespace kestrane {

Jobs jobs_asked() {
    const char* setting = std::getenv(kJobsVariable);
    if (setting == nullptr || *setting == '\0') return {};
    char* end = nullptr;
    unsigned long asked = std::strtoul(setting, &end, 10);
    bool a_number = *end == '\0' && *setting >= '0' && *setting <= '9';
    if (!a_number || asked == 0 || asked > kMostJobs) return {.ignored_setting = setting};
    if (asked == 1) return {1, false, {}};
    return {asked, true, {}};
}

}  // namespace kestrane
