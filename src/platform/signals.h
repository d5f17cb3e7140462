// Signals and the interrupt key: what may end a run, and when.
#pragma once

namespace kestrane::platform {

// Sets the process up for a run: a lowered file-size limit and a reader
// that went away make writes fail instead of ending the process, and the
// interrupt key (on POSIX also TERM, HUP and QUIT) waits for a file change
// in progress. A signal ignored at start-up stays ignored.
void init_signals();

// Brackets a change to a user's file: an interrupt that arrives inside takes
// effect only at the matching end_file_change(), so a file is never left
// half written by the interrupt key.
void begin_file_change();
void end_file_change();

// Threads started between these two calls never handle an interrupt: they
// start with it blocked. Meanwhile an interrupt for the calling thread waits
// and takes effect at end_starting_threads(). (Windows runs its interrupt
// handler on a thread of its own, whatever threads there are: both are
// empty there.)
void begin_starting_threads();
void end_starting_threads();

}  // namespace kestrane::platform
