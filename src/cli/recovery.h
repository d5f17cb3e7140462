// Before a run starts: what runs that did not finish left behind, and
// taking a run back (--undo). Both are reported as outputs are.
#pragma once

#include <string>

#include "cli/run_tally.h"
#include "tags/journal.h"

namespace kestrane {

// Reads the journal of every run that did not finish and is gone (its
// journal held by no process): every output whose last noted change was
// cut short gets its old end back; each journal is then kept as a finished
// one, for --undo, unless an output could not be reached (it is looked at
// again next time). A dry run says what it would put back.
void recover_unfinished_runs(const std::string& folder, bool dry_run, RunTally& tally);

// Takes back the most recent run on record that was not itself an undo:
// its changes, last first; each output that still ends in what the run
// wrote gets its old end back (the putting back noted in journal first).
// The journal taken back then goes, so that the next --undo goes one run
// further back.
void undo_last_run(const std::string& folder, bool dry_run, Journal* journal, RunTally& tally);

}  // namespace kestrane
