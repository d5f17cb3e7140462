// Every outcome of an output once: the line the report prints after the
// output's heading, its word in a JSON Lines report, and how it counts in
// the totals and for the exit status.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "cli/messages.h"
#include "tags/outcome.h"

namespace kestrane {

// Which of the totals an outcome adds to. A dry run counts what it would
// have done.
enum class Column {
    updated,
    appended,
    up_to_date,
    left_alone,  // refused as -a or -u asks: that is no shortfall
    put_back,    // an undo put its old end back (or would)
    aside,       // what a run that did not finish left: not one of this run's outputs
    not_done,    // the output did not get its tag (or its old end): the exit status is 1
};
inline constexpr std::size_t kColumnCount = static_cast<std::size_t>(Column::not_done) + 1;

// Whether a quiet report (-q) shows an output of the column: its tag was
// written (or would be), or it did not get its tag.
constexpr bool shown_when_quiet(Column column) {
    return column == Column::updated || column == Column::appended || column == Column::not_done;
}

// Which path fills the line's '%s'.
enum class Names { nothing, input, output };

struct OutcomeFacts {
    Outcome outcome;
    std::string_view word;
    const char* line;
    Names names;
    Column column;
};

inline constexpr std::array<OutcomeFacts, kOutcomeCount> kOutcomes{{
    {Outcome::updated, "updated", messages::kUpdated, Names::input, Column::updated},
    {Outcome::appended, "appended", messages::kAppended, Names::input, Column::appended},
    {Outcome::up_to_date, "up_to_date", messages::kUpToDate, Names::input, Column::up_to_date},
    {Outcome::would_update, "would_update", messages::kWouldUpdate, Names::input, Column::updated},
    {Outcome::would_append, "would_append", messages::kWouldAppend, Names::input, Column::appended},
    {Outcome::no_matching_input, "no_matching_input", messages::kNoMatchingInput, Names::nothing, Column::not_done},
    {Outcome::multiple_matching_inputs, "multiple_matching_inputs", messages::kMultipleMatchingInputs, Names::nothing,
     Column::not_done},
    {Outcome::cant_open_input, "cant_open_input", messages::kCantOpenInput, Names::input, Column::not_done},
    {Outcome::cant_open_output, "cant_open_output", messages::kCantOpenOutput, Names::nothing, Column::not_done},
    {Outcome::input_has_no_tag, "input_has_no_tag", messages::kInputHasNoTag, Names::input, Column::not_done},
    {Outcome::output_already_tagged, "output_already_tagged", messages::kOutputAlreadyTagged, Names::output,
     Column::left_alone},
    {Outcome::output_has_no_tag, "output_has_no_tag", messages::kOutputHasNoTag, Names::output, Column::left_alone},
    {Outcome::update_failed, "update_failed", messages::kUpdateFailed, Names::nothing, Column::not_done},
    {Outcome::append_failed, "append_failed", messages::kAppendFailed, Names::nothing, Column::not_done},
    {Outcome::out_of_memory, "out_of_memory", messages::kOutOfMemory, Names::nothing, Column::not_done},
    {Outcome::recovered, "recovered", messages::kRecovered, Names::nothing, Column::aside},
    {Outcome::would_recover, "would_recover", messages::kWouldRecover, Names::nothing, Column::aside},
    {Outcome::recovery_left_alone, "recovery_left_alone", messages::kRecoveryLeftAlone, Names::nothing, Column::aside},
    {Outcome::undone, "undone", messages::kUndone, Names::nothing, Column::put_back},
    {Outcome::would_undo, "would_undo", messages::kWouldUndo, Names::nothing, Column::put_back},
    {Outcome::changed_since, "changed_since", messages::kChangedSince, Names::nothing, Column::not_done},
    {Outcome::gone_since, "gone_since", messages::kGoneSince, Names::nothing, Column::not_done},
    {Outcome::put_back_failed, "put_back_failed", messages::kPutBackFailed, Names::nothing, Column::not_done},
}};

// Each row stands at its outcome's place, so the table is looked up by it.
constexpr bool rows_in_outcome_order() {
    for (std::size_t i = 0; i < kOutcomes.size(); ++i) {
        if (static_cast<std::size_t>(kOutcomes[i].outcome) != i) return false;
    }
    return true;
}
static_assert(rows_in_outcome_order(), "kOutcomes must list every outcome once, in the enum's order");

constexpr const OutcomeFacts& facts_of(Outcome outcome) { return kOutcomes[static_cast<std::size_t>(outcome)]; }

}  // namespace kestrane
