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

}  // namespace kestrane::platform
