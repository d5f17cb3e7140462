// The interrupt key on Windows (also Ctrl-Break and closing the console
// window): it waits for a file change in progress, and, once the run holds
// interrupts, for the run to tell what its pairs in flight did.
#include "platform/signals.h"

#include <windows.h>

#include <atomic>

namespace kestrane::platform {
namespace {

// Held, shared, while files are being changed, on any thread. The interrupt
// handler takes it exclusively and never gives it back, so the process ends
// only when no change is in progress, and no change starts after an
// interrupt the run does not hold.
SRWLOCK file_change_lock = SRWLOCK_INIT;

std::atomic<bool> interrupt_came{false};
std::atomic<bool> held_by_the_run{false};
// Set by the run once it has told what it did; the first interrupt's
// handler waits for it. Made before the handler is set.
HANDLE run_told = nullptr;

// Runs on a thread of its own when the event arrives. The first interrupt
// the run holds waits for the run to end; any other waits for a change in
// progress to finish. Then it passes the event on to the system's handler,
// which ends the process as it would have without this one.
BOOL WINAPI on_interrupt(DWORD) {
    bool first = !interrupt_came.exchange(true);
    if (first && held_by_the_run.load()) ::WaitForSingleObject(run_told, INFINITE);
    ::AcquireSRWLockExclusive(&file_change_lock);
    return FALSE;
}

}  // namespace

// A file-size limit and a reader that went away already make writes fail
// here rather than end the process.
void init_signals() {
    run_told = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(on_interrupt, TRUE);
}

void begin_file_change() { ::AcquireSRWLockShared(&file_change_lock); }

void end_file_change() { ::ReleaseSRWLockShared(&file_change_lock); }

void hold_interrupts() { held_by_the_run.store(true); }

bool interrupted() { return interrupt_came.load(); }

// The handler thread ends the process once it is told; this thread waits.
void end_as_interrupted() {
    ::SetEvent(run_told);
    for (;;) ::Sleep(INFINITE);
}

}  // namespace kestrane::platform
