// Standard descriptors on POSIX systems. One the process was started
// without would be given to the next file opened, and the report (or
// anything written to standard error) would go into a user's file.
#include "platform/standard_descriptors.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kestrane::platform {

// Taken in order, so open(), which gives the lowest free number, gives fd.
void open_closed_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) ::close(opened);  // only if a lower one could not be opened
    }
}

}  // namespace kestrane::platform
