// Carrying out a plan: every entry in plan order, reported as it comes.
#pragma once

#include "cli/plan.h"
#include "tags/transfer_mode.h"

namespace kestrane {

// Carries out the plan's copies and reports every entry in plan order: one
// pair at a time, or with workers (see jobs.h and pair_workers.h).
// Throws std::bad_alloc when memory runs out, after the heading of the
// entry it ran out on.
void carry_out(Plan& plan, TransferOptions options);

}  // namespace kestrane
