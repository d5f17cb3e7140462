// The report on Windows. On a console it goes out unbuffered as UTF-16, so
// every line shows at once and every name shows as it is. Anywhere else
// standard output is a text stream ("\n" goes out as CR LF) in the ANSI code
// page, written in blocks of 512 bytes, as scripts reading the report expect.
// A report for programs (JSON Lines) goes out exactly: its UTF-8 bytes and
// '\n' alone, redirected or on a console.
#include "platform/output.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <io.h>

#include "platform/windows_text.h"

namespace kestrane::platform {
namespace {

constexpr std::size_t kOutputBlockSize = 512;
char output_block[kOutputBlockSize];

// Standard output when it is a console, else null.
HANDLE console_output = nullptr;
bool exact_output = false;  // UTF-8 and '\n' as they are

// Most 16-bit units handed to one WriteConsoleW call (older consoles fail
// much larger writes).
constexpr std::size_t kConsoleWriteUnits = 8192;

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

bool is_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Writes the text to the console as UTF-16, which shows every character
// whatever the console's code page, '\n' going out as CR LF (or, exactly,
// alone: the console still starts a new line).
void write_to_console(std::string_view text) {
    std::wstring wide;
    for (wchar_t unit : to_wide(text)) {
        if (unit == L'\n' && !exact_output) wide += L'\r';
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

// (_isatty also holds for devices such as NUL, where it makes no difference.)
// Failures of the C runtime's calls below are left alone: a report that
// can't be written as asked never ends the run (output.h).
void init_output() {
    static_cast<void>(_setmode(_fileno(stdout), _O_TEXT));
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (is_console(output)) {
        console_output = output;
    } else if (_isatty(_fileno(stdout))) {
        static_cast<void>(std::setvbuf(stdout, nullptr, _IONBF, 0));
    } else {
        static_cast<void>(std::setvbuf(stdout, output_block, _IOFBF, kOutputBlockSize));
    }
}

void write_output(std::string_view text) {
    if (console_output != nullptr) {
        write_to_console(text);
    } else if (exact_output || is_ascii(text)) {
        static_cast<void>(std::fwrite(text.data(), 1, text.size(), stdout));  // the same bytes in every ANSI code page
    } else {
        std::string ansi = to_ansi_code_page(to_wide(text));
        static_cast<void>(std::fwrite(ansi.data(), 1, ansi.size(), stdout));
    }
}

void flush_output() { static_cast<void>(std::fflush(stdout)); }

void use_exact_output() {
    exact_output = true;
    static_cast<void>(std::fflush(stdout));
    static_cast<void>(_setmode(_fileno(stdout), _O_BINARY));
}

bool output_is_terminal() { return console_output != nullptr; }

int output_columns() {
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    if (console_output == nullptr || !::GetConsoleScreenBufferInfo(console_output, &screen)) return 0;
    return screen.srWindow.Right - screen.srWindow.Left + 1;
}

}  // namespace kestrane::platform
