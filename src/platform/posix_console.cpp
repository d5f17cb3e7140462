// The terminal on POSIX systems: input typed ahead is discarded.
#include "platform/console.h"

#include <termios.h>
#include <unistd.h>

namespace kestrane::platform {

// Only in the terminal's foreground process group: from the background,
// tcflush() would stop the run (SIGTTOU) or, with SIGTTOU ignored, throw
// away the input of the job in the foreground. (For the same reason SIGTTOU
// is not blocked around the call: a job moved to the background just
// between the two calls is stopped, as a job that touches the terminal from
// the background should be.) Terminal modes are left alone, as nothing
// could restore them after an interrupt.
void init_console() {
    if (::isatty(STDIN_FILENO) && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp()) ::tcflush(STDIN_FILENO, TCIFLUSH);
}

}  // namespace kestrane::platform
