// Signals on POSIX systems: which ones end a run, and when.
#include "platform/signals.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace kestrane::platform {
namespace {

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// File changes in progress, on any thread, and the interrupt that waits for
// them to end. Every thread but the first blocks the interrupts, so the
// handler always runs on the first; whichever thread ends the last change
// then ends the process.
std::atomic<int> changes_in_progress{0};
std::atomic<int> deferred_signal{0};
std::atomic<int> interrupts_come{0};
std::atomic<bool> held_by_the_run{false};

// Whether the interrupts that came end the process once no change is in
// progress: any interrupt the run does not hold, and a second one.
bool ends_between_changes() {
    return deferred_signal.load() != 0 && (!held_by_the_run.load() || interrupts_come.load() > 1);
}
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs lock-free atomics");

// Ends the process the way the signal would have without our handler: sent
// again to the process with its default action, unblocked on this thread
// (inside the handler it is blocked; on the other threads always), so that
// it takes effect at once, whichever thread ends the last change.
[[noreturn]] void end_by_signal(int signal_number) {
    static_cast<void>(std::signal(signal_number, SIG_DFL));  // a signal we caught exists
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, signal_number);
    ::pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
    ::kill(::getpid(), signal_number);
    for (;;) ::pause();
}

// Held by the run, the first interrupt only takes note: the run ends the
// process once it has told what its pairs in flight did.
void on_interrupt(int signal_number) {
    deferred_signal.store(signal_number);
    interrupts_come.fetch_add(1);
    if (changes_in_progress.load() == 0 && ends_between_changes()) end_by_signal(signal_number);
}

}  // namespace

void init_signals() {
    // A lowered file-size limit must fail a write (and let it be undone),
    // not kill the process halfway through it.
    static_cast<void>(std::signal(SIGXFSZ, SIG_IGN));  // fails only for a signal that does not exist
    // A reader that stops reading the report (as "| head" does) must not end
    // the run: report writes fail with EPIPE instead, and the report skips
    // the rest. An ignored signal stays ignored across exec(), which is why
    // programs that start others restore it first; this tool starts none.
    static_cast<void>(std::signal(SIGPIPE, SIG_IGN));
    // A signal ignored at start-up (under nohup, or SIGINT in a background
    // job of a script) stays ignored: the handler goes only where the
    // signal would have ended the process anyway.
    for (int signal_number : kInterruptSignals) {
        struct sigaction current {};
        if (::sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
        struct sigaction action {};
        action.sa_handler = on_interrupt;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal_number, &action, nullptr);
    }
}

// A change that would start after an interrupt that ends the process never
// starts: the thread gives way and waits for the end instead. Held once,
// the pairs in flight finish.
void begin_file_change() {
    changes_in_progress.fetch_add(1);
    if (ends_between_changes()) {
        end_file_change();
        for (;;) ::pause();
    }
}

void end_file_change() {
    if (changes_in_progress.fetch_sub(1) == 1 && ends_between_changes()) end_by_signal(deferred_signal.load());
}

void hold_interrupts() { held_by_the_run.store(true); }

bool interrupted() { return deferred_signal.load() != 0; }

void end_as_interrupted() { end_by_signal(deferred_signal.load()); }

}  // namespace kestrane::platform
