// Console, standard output, path rules and interrupt handling on Windows.
#include "platform/platform.h"

#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

// The C runtime would otherwise expand '*' and '?' in the arguments itself;
// the tool lists files by its own rules, so the wildcards must reach it.
extern "C" int _CRT_glob = 0;

namespace kestrane::platform {
namespace {

constexpr std::size_t kOutputBlockSize = 512;
char output_block[kOutputBlockSize];

// Held while a file is being changed. The interrupt handler takes it and
// never gives it back, so the process ends only between two changes, and
// no change starts after an interrupt.
SRWLOCK file_change_lock = SRWLOCK_INIT;

// Runs on a thread of its own when the interrupt key (or Ctrl-Break, or
// closing the console window) arrives. Waits for a change in progress to
// finish, then passes the event on to the system's handler, which ends the
// process as it would have without this one.
BOOL WINAPI on_interrupt(DWORD) {
    ::AcquireSRWLockExclusive(&file_change_lock);
    return FALSE;
}

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

// Standard output is a text stream ("\n" goes out as CR LF): unbuffered on
// a console, so every line shows at once, else in blocks of 512 bytes.
// (_isatty also holds for devices such as NUL, where it makes no difference.)
void init_output() {
    _setmode(_fileno(stdout), _O_TEXT);
    if (is_console(::GetStdHandle(STD_OUTPUT_HANDLE)) || _isatty(_fileno(stdout))) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        std::setvbuf(stdout, output_block, _IOFBF, kOutputBlockSize);
    }
    ::SetConsoleCtrlHandler(on_interrupt, TRUE);
}

void write_output(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void flush_output() { std::fflush(stdout); }

// Processed input only (line input and echo off), and typed-ahead input
// discarded. Fails harmlessly when standard input is no console.
void init_console() {
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    ::SetConsoleMode(input, ENABLE_PROCESSED_INPUT);
    ::FlushConsoleInputBuffer(input);
}

void begin_file_change() { ::AcquireSRWLockExclusive(&file_change_lock); }

void end_file_change() { ::ReleaseSRWLockExclusive(&file_change_lock); }

// The interrupt handler runs on a thread of its own, whichever threads the
// tool starts: nothing to do.
void begin_starting_threads() {}
void end_starting_threads() {}

bool is_path_separator(char c) { return c == '\\' || c == ':' || c == '/'; }

bool is_option_start(char c) { return c == '-' || c == '/'; }

// Windows shells leave wildcards alone, so a third specification is a
// user's slip, not an expanded wildcard: it is reported and ignored.
bool refuses_extra_file_specifications() { return false; }

}  // namespace kestrane::platform
