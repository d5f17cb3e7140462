// Carrying out a plan: every entry in plan order, reported as it comes.
#pragma once

#include "cli/plan.h"
#include "tags/transfer_mode.h"

namespace kestrane {

// How KESTRANE_JOBS sets the pairs in flight: "1" one at a time, N > 1 at
// most N at once from the first pair; otherwise (unset, say) one at a time
// while pairs are quick, and the default number once they turn out slow.
inline constexpr const char* kJobsVariable = "KESTRANE_JOBS";

// Carries out the plan's copies and reports every entry in plan order.
// Throws std::bad_alloc when memory runs out, after the heading of the
// entry it ran out on.
void carry_out(Plan& plan, TransferOptions options);

}  // namespace kestrane
