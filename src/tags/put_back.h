// Putting an output back as a journal noted it was before a change: after
// a run that did not finish, and when --undo takes a run back.
#pragma once

#include "platform/files.h"
#include "tags/change.h"
#include "tags/journal.h"
#include "tags/outcome.h"

namespace kestrane {

// What an output holds now, against a change noted for it.
enum class EndHeld {
    old_end,      // exactly what it held before the change
    new_end,      // exactly what the change wrote
    neither,      // anything else: the change was cut short, or the file changed since
    gone,         // no file at that path, or another file now
    unreachable,  // there, but it can't be opened (another run holds it, say)
};

// Looks at the output the change was noted for, and leaves it open in
// file when it is there. It is the same file when it is the same file
// number and holds the same bytes in front of the change (the volume's
// number may change with a reboot; the bytes in front of a tag do not).
EndHeld look_at_end(const Change& change, platform::OpenFile& file);

// After a run that did not finish: an output that holds neither its old
// end nor its new one gets its old end back. Nothing to say (none) when it
// holds one of them; unreachable: look again next time.
struct Recovery {
    std::optional<Outcome> outcome;
    bool unreachable = false;
};
Recovery recover(const Change& change, bool dry_run);

// Takes a change back: an output that still ends in what the change wrote
// gets its old end back, the putting back noted in journal first (itself a
// change); none when it already holds its old end (nothing to take back).
std::optional<Outcome> undo(const Change& change, bool dry_run, Journal* journal);

}  // namespace kestrane
