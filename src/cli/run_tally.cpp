#include "cli/run_tally.h"

namespace kestrane {

Totals totals_of(const RunTally& tally) {
    Totals totals;
    for (const OutcomeFacts& facts : kOutcomes) {
        std::size_t outputs = tally.outputs[static_cast<std::size_t>(facts.outcome)];
        if (facts.column != Column::aside) totals.outputs += outputs;
        totals.by_column[static_cast<std::size_t>(facts.column)] += outputs;
    }
    return totals;
}

int exit_status(const RunTally& tally) {
    if (tally.has(RunNote::bad_command_line)) return kStatusBadCommandLine;
    bool fell_short = tally.has(RunNote::nothing_matched) || tally.has(RunNote::unreadable_folder) ||
                      tally.has(RunNote::out_of_memory) || tally.has(RunNote::nothing_to_undo);
    if (fell_short || totals_of(tally)[Column::not_done] > 0) return kStatusNotDone;
    return kStatusDone;
}

}  // namespace kestrane
