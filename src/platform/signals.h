// Signals and the interrupt key: what may end a run, and when.
#pragma once

namespace kestrane::platform {

// Sets the process up for a run: a lowered file-size limit and a reader
// that went away make writes fail instead of ending the process, and the
// interrupt key (on POSIX also TERM, HUP and QUIT) waits for a file change
// in progress. A signal ignored at start-up stays ignored.
void init_signals();

// Brackets a change to a user's file, on any thread: an interrupt that
// arrives while changes are in progress takes effect when the last of them
// ends, and no change begins after it, so no file is ever left half written
// by the interrupt key.
void begin_file_change();
void end_file_change();

// From here on an interrupt no longer ends the process by itself: the run
// asks interrupted(), lets the pairs in flight finish, reports them, and
// ends with end_as_interrupted(). A second interrupt, outside a file
// change, still ends the process at once.
void hold_interrupts();

// Whether an interrupt has come.
bool interrupted();

// Ends the process the way the interrupt that came would have.
[[noreturn]] void end_as_interrupted();

}  // namespace kestrane::platform
