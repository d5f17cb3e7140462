// What became of one output: the run's plan decides some outcomes (an
// output without an input), the copy the others. cli/outcomes.h gives each
// its report line, its word in a JSON Lines report and how it counts.
#pragma once

#include <cstddef>

namespace kestrane {

enum class Outcome {
    updated,
    appended,
    up_to_date,    // the output ends in the very tag already: nothing written
    would_update,  // dry run: an update was allowed, nothing was written
    would_append,  // dry run: an append was allowed, nothing was written
    no_matching_input,
    multiple_matching_inputs,
    cant_open_input,        // missing, not a regular file, or held by another run
    cant_open_output,       // as for the input, or write protected, or the input itself
    input_has_no_tag,
    output_already_tagged,  // refused, as -a asks
    output_has_no_tag,      // refused, as -u asks
    update_failed,          // the write failed and was undone
    append_failed,          // the write failed and was undone
    out_of_memory,          // the two tags did not fit in memory, even with no other pair in flight
    // Finishing what a run that did not finish left (before a run starts):
    recovered,              // neither its old end nor its new one: the old one put back
    would_recover,          // dry run: it would be
    recovery_left_alone,    // the file is gone, or is another file now
    // Taking back a run (--undo):
    undone,                 // it ended in what the run wrote: its old end put back
    would_undo,             // dry run: it would be
    changed_since,          // it ends in neither: left as it is
    gone_since,             // the file is gone, or is another file now
    put_back_failed,        // a write failed; the output is as before the attempt
};
inline constexpr std::size_t kOutcomeCount = static_cast<std::size_t>(Outcome::put_back_failed) + 1;

}  // namespace kestrane
