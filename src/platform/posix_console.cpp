// Console, standard output, path rules and interrupt handling on POSIX systems.
#include "platform/platform.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace kestrane::platform {
namespace {

constexpr std::size_t kOutputBlockSize = 512;
char output_block[kOutputBlockSize];

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

void init_output() {
    if (::isatty(STDOUT_FILENO)) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        std::setvbuf(stdout, output_block, _IOFBF, kOutputBlockSize);
    }
    // A lowered file-size limit must fail a write (and let it be undone),
    // not kill the process halfway through it.
    std::signal(SIGXFSZ, SIG_IGN);
    for (int signal_number : kInterruptSignals) {
        struct sigaction action {};
        action.sa_handler = on_interrupt;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal_number, &action, nullptr);
    }
}

void write_output(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void flush_output() { std::fflush(stdout); }

// Discards input typed ahead; terminal modes are left alone, as nothing
// could restore them after an interrupt.
void init_console() {
    if (::isatty(STDIN_FILENO)) ::tcflush(STDIN_FILENO, TCIFLUSH);
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

bool is_path_separator(char c) { return c == '/'; }

bool is_option_start(char c) { return c == '-'; }

bool refuses_extra_file_specifications() { return true; }

}  // namespace kestrane::platform
