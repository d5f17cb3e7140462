// What a run came to: the outcome of every output and what else fell short.
// The run keeps it as it goes; the exit status and both summaries (the
// totals for people, the JSON Lines summary) are made from it.
#pragma once

#include <array>
#include <cstddef>

#include "cli/outcomes.h"

namespace kestrane {

// What the run met outside any one output.
enum class RunNote {
    bad_command_line,    // the usage text stood in for a run
    nothing_matched,     // a specification matched no file at all
    unreadable_folder,
    out_of_memory,
    nothing_to_undo,     // --undo found no run on record
};

// The exit statuses.
inline constexpr int kStatusDone = 0;            // every output got its tag or was left alone as asked
inline constexpr int kStatusNotDone = 1;         // some output did not, or the run fell short
inline constexpr int kStatusBadCommandLine = 2;  // the usage text was printed instead of a run

struct RunTally {
    std::array<std::size_t, kOutcomeCount> outputs{};  // by Outcome
    unsigned notes = 0;                                 // a bit for each RunNote met
    std::size_t unused_inputs = 0;                      // inputs no output took

    void count(Outcome outcome) { ++outputs[static_cast<std::size_t>(outcome)]; }
    void note(RunNote note) { notes |= 1u << static_cast<unsigned>(note); }
    bool has(RunNote note) const { return (notes & (1u << static_cast<unsigned>(note))) != 0; }
};

// The totals for people, by column; outputs counts those of the run (not
// what a run that did not finish left).
struct Totals {
    std::size_t outputs = 0;
    std::array<std::size_t, kColumnCount> by_column{};
    std::size_t operator[](Column column) const { return by_column[static_cast<std::size_t>(column)]; }
};
Totals totals_of(const RunTally& tally);

// Decided at the end, once every output has been tried.
int exit_status(const RunTally& tally);

}  // namespace kestrane
