// The run's workers: none while its steps (a folder listed, a pair carried
// out) are quick; a pool of them once the steps turn out slow, or from the
// first step when KESTRANE_JOBS asks. The tree walk and the pairs share it.
#pragma once

#include <optional>

#include "cli/jobs.h"
#include "cli/slow_start.h"
#include "cli/worker_pool.h"

namespace kestrane {

class Workers {
public:
    explicit Workers(const Jobs& jobs) : jobs_(jobs) {}

    // Called before each step: the pool once it runs, null while the run
    // works one step at a time. worth_starting is false when too few steps
    // are left for threads to pay.
    WorkerPool* before_step(bool worth_starting = true) {
        if (!pool_ && jobs_.most > 1 && worth_starting && (jobs_.from_the_start || clock_.slow_now())) {
            pool_.emplace(jobs_.most);
        }
        return pool_ && pool_->threads() > 0 ? &*pool_ : nullptr;
    }

private:
    Jobs jobs_;
    SlowStartClock clock_;
    std::optional<WorkerPool> pool_;  // once started: no second try
};

}  // namespace kestrane
