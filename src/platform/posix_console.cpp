// Console, standard output, path rules and interrupt handling on POSIX systems.
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace kestrane::platform {
namespace {

constexpr std::size_t kOutputBlockSize = 512;
char output_block[kOutputBlockSize];
std::size_t output_used = 0;
bool output_unbuffered = false;  // standard output is a terminal: every line at once
bool output_lost = false;        // the report could not be written: the rest is skipped

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

// A standard descriptor the process was started without would be given to
// the next file opened, and the report (or anything written to standard
// error) would go into a user's file: each closed one is opened on /dev/null.
// Taken in order, so open(), which gives the lowest free number, gives fd.
void open_closed_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) ::close(opened);  // only if a lower one could not be opened
    }
}

// Writes all of the bytes to standard output. A descriptor left non-blocking
// by another program waits in poll() until the reader makes room. False on
// any other failure, such as a reader that has gone (EPIPE).
bool write_all(const char* bytes, std::size_t size) {
    while (size > 0) {
        ssize_t written = ::write(STDOUT_FILENO, bytes, size);
        if (written > 0) {
            bytes += written;
            size -= static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd room{STDOUT_FILENO, POLLOUT, 0};
            if (::poll(&room, 1, -1) < 0 && errno != EINTR) return false;
        } else {
            return false;
        }
    }
    return true;
}

// Once a write has failed the report is lost for good: the rest of it is
// skipped, not retried, and the run goes on.
void write_report_bytes(const char* bytes, std::size_t size) {
    if (!output_lost && !write_all(bytes, size)) output_lost = true;
}

}  // namespace

std::vector<std::string> command_line_arguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

void init_output() {
    open_closed_standard_descriptors();
    output_unbuffered = ::isatty(STDOUT_FILENO) != 0;
    // A lowered file-size limit must fail a write (and let it be undone),
    // not kill the process halfway through it.
    std::signal(SIGXFSZ, SIG_IGN);
    // A reader that stops reading the report (as "| head" does) must not end
    // the run: report writes fail with EPIPE instead, and write_output skips
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

// Unbuffered on a terminal; otherwise in blocks of 512 bytes.
void write_output(std::string_view text) {
    if (output_lost) return;
    if (output_unbuffered) return write_report_bytes(text.data(), text.size());
    while (!text.empty()) {
        std::size_t taken = std::min(text.size(), kOutputBlockSize - output_used);
        std::memcpy(output_block + output_used, text.data(), taken);
        output_used += taken;
        text.remove_prefix(taken);
        if (output_used == kOutputBlockSize) flush_output();
    }
}

void flush_output() {
    write_report_bytes(output_block, output_used);
    output_used = 0;
}

// Discards input typed ahead, but only in the terminal's foreground process
// group: from the background, tcflush() would stop the run (SIGTTOU) or, with
// SIGTTOU ignored, throw away the input of the job in the foreground. (For
// the same reason SIGTTOU is not blocked around the call: a job moved to the
// background just between the two calls is stopped, as a job that touches
// the terminal from the background should be.) Terminal modes are left
// alone, as nothing could restore them after an interrupt.
void init_console() {
    if (::isatty(STDIN_FILENO) && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp()) ::tcflush(STDIN_FILENO, TCIFLUSH);
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
