// Carrying out a plan: every entry in plan order, reported as it comes.
#pragma once

#include "cli/copy_pair.h"
#include "cli/plan.h"
#include "cli/run_tally.h"
#include "cli/workers.h"

namespace kestrane {

// Carries out the plan's copies and reports every entry in plan order: one
// pair at a time, or with workers once the pairs turn out slow. When the
// run must stop early (an interrupt; no memory left for its own
// bookkeeping: RunNote::out_of_memory, said after the report), no pair
// starts any more, those in flight finish, and each pair carried out is
// reported, in plan order.
void carry_out(Plan& plan, PairContext& context, Workers& workers, RunTally& tally);

}  // namespace kestrane
