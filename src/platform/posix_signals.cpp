// Signals on POSIX systems: which ones end a run, and when.
#include "platform/signals.h"

#include <csignal>
#include <pthread.h>
#include <signal.h>

namespace kestrane::platform {
namespace {

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile std::sig_atomic_t changing_file = 0;
volatile std::sig_atomic_t deferred_signal = 0;

// The calling thread's signal mask while threads are being started.
sigset_t mask_before_threads;

// Ends the process the way the signal would have without our handler.
void end_by_signal(int signal_number) {
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void on_interrupt(int signal_number) {
    if (changing_file) {
        deferred_signal = signal_number;
    } else {
        end_by_signal(signal_number);
    }
}

}  // namespace

void init_signals() {
    // A lowered file-size limit must fail a write (and let it be undone),
    // not kill the process halfway through it.
    std::signal(SIGXFSZ, SIG_IGN);
    // A reader that stops reading the report (as "| head" does) must not end
    // the run: report writes fail with EPIPE instead, and the report skips
    // the rest. An ignored signal stays ignored across exec(), which is why
    // programs that start others restore it first; this tool starts none.
    std::signal(SIGPIPE, SIG_IGN);
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

void begin_file_change() { changing_file = 1; }

void end_file_change() {
    changing_file = 0;
    if (deferred_signal != 0) end_by_signal(deferred_signal);
}

// The threads inherit the blocked mask; the calling thread gets its own back.
// Only the interrupt signals are blocked, so the window changes nothing else.
void begin_starting_threads() {
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (int signal_number : kInterruptSignals) sigaddset(&interrupts, signal_number);
    ::pthread_sigmask(SIG_BLOCK, &interrupts, &mask_before_threads);
}

void end_starting_threads() { ::pthread_sigmask(SIG_SETMASK, &mask_before_threads, nullptr); }

}  // namespace kestrane::platform
