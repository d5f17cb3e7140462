// What a run came to, counted as its report says it: the exit status and
// both summaries (the line for people, the JSON Lines summary) are made
// from it.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "tags/copy_tag.h"

namespace kestrane {

// What became of one output: every line the report can print after an
// output's heading.
enum class Outcome {
    updated,
    appended,
    up_to_date,
    would_update,
    would_append,
    no_matching_input,
    multiple_matching_inputs,
    cant_open_input,
    cant_open_output,
    input_has_no_tag,
    output_already_tagged,  // refused, as -a asks
    output_has_no_tag,      // refused, as -u asks
    update_failed,
    append_failed,
};
inline constexpr std::size_t kOutcomeCount = 14;

Outcome outcome_of(CopyOutcome outcome);

// The outcome's name in a JSON Lines report: "updated", "up_to_date", ...
std::string_view outcome_word(Outcome outcome);

// The exit statuses.
inline constexpr int kStatusDone = 0;            // every output got its tag or was left alone as asked
inline constexpr int kStatusNotDone = 1;         // some output did not, or the run fell short
inline constexpr int kStatusBadCommandLine = 2;  // the usage text was printed instead of a run

struct RunTally {
    std::array<std::size_t, kOutcomeCount> outputs{};  // by Outcome
    bool bad_command_line = false;
    bool fell_short = false;  // a specification matched nothing, a folder could not be read, memory ran out
};

// The people's counts: a dry run counts what it would have done.
struct Totals {
    std::size_t outputs = 0;
    std::size_t updated = 0;
    std::size_t appended = 0;
    std::size_t up_to_date = 0;
    std::size_t not_done = 0;
    std::size_t left_alone = 0;  // the refusals -a and -u ask for
};
Totals totals_of(const RunTally& tally);

// Decided at the end, once every output has been tried.
int exit_status(const RunTally& tally);

}  // namespace kestrane
