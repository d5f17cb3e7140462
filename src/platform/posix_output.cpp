// The report on POSIX systems: the tool's own writer on descriptor 1,
// unbuffered on a terminal, else in blocks of 512 bytes.
#include "platform/output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kestrane::platform {
namespace {

constexpr std::size_t kOutputBlockSize = 512;
char output_block[kOutputBlockSize];
std::size_t output_used = 0;
bool output_unbuffered = false;  // standard output is a terminal: every line at once
bool output_lost = false;        // the report could not be written: the rest is skipped

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

void init_output() { output_unbuffered = ::isatty(STDOUT_FILENO) != 0; }

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

void use_exact_output() {}  // the report's bytes always go out as they are

bool output_is_terminal() { return output_unbuffered; }

int output_columns() {
    winsize size{};
    if (!output_unbuffered || ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

}  // namespace kestrane::platform
