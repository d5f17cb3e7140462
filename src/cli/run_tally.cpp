#include "cli/run_tally.h"

namespace kestrane {
namespace {

constexpr std::string_view kOutcomeWords[kOutcomeCount] = {
    "updated",
    "appended",
    "up_to_date",
    "would_update",
    "would_append",
    "no_matching_input",
    "multiple_matching_inputs",
    "cant_open_input",
    "cant_open_output",
    "input_has_no_tag",
    "output_already_tagged",
    "output_has_no_tag",
    "update_failed",
    "append_failed",
};

std::size_t count(const RunTally& tally, Outcome outcome) { return tally.outputs[static_cast<std::size_t>(outcome)]; }

}  // namespace

Outcome outcome_of(CopyOutcome outcome) {
    switch (outcome) {
        case CopyOutcome::cant_open_input: return Outcome::cant_open_input;
        case CopyOutcome::cant_open_output: return Outcome::cant_open_output;
        case CopyOutcome::input_has_no_tag: return Outcome::input_has_no_tag;
        case CopyOutcome::output_already_tagged: return Outcome::output_already_tagged;
        case CopyOutcome::output_has_no_tag: return Outcome::output_has_no_tag;
        case CopyOutcome::update_failed: return Outcome::update_failed;
        case CopyOutcome::append_failed: return Outcome::append_failed;
        case CopyOutcome::updated: return Outcome::updated;
        case CopyOutcome::appended: return Outcome::appended;
        case CopyOutcome::up_to_date: return Outcome::up_to_date;
        case CopyOutcome::would_update: return Outcome::would_update;
        case CopyOutcome::would_append: return Outcome::would_append;
    }
    return Outcome::cant_open_input;  // not reached: every outcome is named above
}

std::string_view outcome_word(Outcome outcome) { return kOutcomeWords[static_cast<std::size_t>(outcome)]; }

Totals totals_of(const RunTally& tally) {
    Totals totals;
    for (std::size_t outputs : tally.outputs) totals.outputs += outputs;
    totals.updated = count(tally, Outcome::updated) + count(tally, Outcome::would_update);
    totals.appended = count(tally, Outcome::appended) + count(tally, Outcome::would_append);
    totals.up_to_date = count(tally, Outcome::up_to_date);
    totals.left_alone = count(tally, Outcome::output_already_tagged) + count(tally, Outcome::output_has_no_tag);
    totals.not_done = totals.outputs - totals.updated - totals.appended - totals.up_to_date - totals.left_alone;
    return totals;
}

int exit_status(const RunTally& tally) {
    if (tally.bad_command_line) return kStatusBadCommandLine;
    if (tally.fell_short || totals_of(tally).not_done > 0) return kStatusNotDone;
    return kStatusDone;
}

}  // namespace kestrane
