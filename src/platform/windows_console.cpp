// Command line, console, standard output, path rules and interrupt
// handling on Windows.
#include "platform/platform.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <new>

#include "platform/windows_names.h"

// The C runtime would otherwise expand '*' and '?' in the arguments itself;
// the tool lists files by its own rules, so the wildcards must reach it.
extern "C" int _CRT_glob = 0;

// The C runtime's splitting of the wide command line into arguments, the
// same rules (quotes, backslashes) by which it made the ANSI ones for main.
extern "C" {
struct CrtStartupInformation {
    int new_mode;
};
__declspec(dllimport) int __cdecl __wgetmainargs(int* count, wchar_t*** arguments, wchar_t*** environment,
                                                 int expand_wildcards, CrtStartupInformation* startup);
}

namespace kestrane::platform {
namespace {

constexpr std::size_t kOutputBlockSize = 512;
char output_block[kOutputBlockSize];

// Standard output when it is a console, else null.
HANDLE console_output = nullptr;

// Most 16-bit units handed to one WriteConsoleW call (older consoles fail
// much larger writes).
constexpr std::size_t kConsoleWriteUnits = 8192;

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

bool is_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Writes the text to the console as UTF-16, which shows every character
// whatever the console's code page, '\n' going out as CR LF.
void write_to_console(std::string_view text) {
    std::wstring wide;
    for (wchar_t unit : to_wide(text)) {
        if (unit == L'\n') wide += L'\r';
        wide += unit;
    }
    for (std::size_t done = 0; done < wide.size();) {
        std::size_t count = std::min(wide.size() - done, kConsoleWriteUnits);
        if (count < wide.size() - done && wide[done + count - 1] >= 0xD800 && wide[done + count - 1] <= 0xDBFF) {
            --count;  // a surrogate pair goes out whole
        }
        DWORD written = 0;
        if (!::WriteConsoleW(console_output, wide.data() + done, static_cast<DWORD>(count), &written, nullptr) ||
            written == 0) {
            return;
        }
        done += written;
    }
}

}  // namespace

std::vector<std::string> command_line_arguments(int, char**) {
    int count = 0;
    wchar_t** arguments = nullptr;
    wchar_t** environment = nullptr;
    CrtStartupInformation startup{0};
    if (__wgetmainargs(&count, &arguments, &environment, 0, &startup) < 0) throw std::bad_alloc();
    std::vector<std::string> texts;
    for (int i = 1; i < count; ++i) texts.push_back(to_utf8(arguments[i]));
    return texts;
}

// On a console the report goes out unbuffered as UTF-16, so every line
// shows at once and every name shows as it is. Anywhere else standard
// output is a text stream ("\n" goes out as CR LF) in the ANSI code page,
// written in blocks of 512 bytes, as scripts reading the report expect.
// (_isatty also holds for devices such as NUL, where it makes no difference.)
void init_output() {
    _setmode(_fileno(stdout), _O_TEXT);
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (is_console(output)) {
        console_output = output;
    } else if (_isatty(_fileno(stdout))) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        std::setvbuf(stdout, output_block, _IOFBF, kOutputBlockSize);
    }
    ::SetConsoleCtrlHandler(on_interrupt, TRUE);
}

void write_output(std::string_view text) {
    if (console_output != nullptr) {
        write_to_console(text);
    } else if (is_ascii(text)) {
        std::fwrite(text.data(), 1, text.size(), stdout);  // the same bytes in every ANSI code page
    } else {
        std::string ansi = to_ansi_code_page(to_wide(text));
        std::fwrite(ansi.data(), 1, ansi.size(), stdout);
    }
}

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

}  // namespace kestrane::platform
