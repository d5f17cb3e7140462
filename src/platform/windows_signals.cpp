// The interrupt key on Windows (also Ctrl-Break and closing the console
// window): it waits for a file change in progress.
#include "platform/signals.h"

#include <windows.h>

namespace kestrane::platform {
namespace {

// Held, shared, while files are being changed, on any thread. The interrupt
// handler takes it exclusively and never gives it back, so the process ends
// only when no change is in progress, and no change starts after an
// interrupt.
SRWLOCK file_change_lock = SRWLOCK_INIT;

// Runs on a thread of its own when the event arrives. Waits for a change in
// progress to finish, then passes the event on to the system's handler,
// which ends the process as it would have without this one.
BOOL WINAPI on_interrupt(DWORD) {
    ::AcquireSRWLockExclusive(&file_change_lock);
    return FALSE;
}

}  // namespace

// A file-size limit and a reader that went away already make writes fail
// here rather than end the process.
void init_signals() { ::SetConsoleCtrlHandler(on_interrupt, TRUE); }

void begin_file_change() { ::AcquireSRWLockShared(&file_change_lock); }

void end_file_change() { ::ReleaseSRWLockShared(&file_change_lock); }

}  // namespace kestrane::platform
