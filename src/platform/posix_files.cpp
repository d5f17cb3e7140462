// Files on POSIX systems: positioned reads and writes on descriptors, each
// file held with an exclusive, non-waiting lock while it is open.
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace kestrane::platform {
namespace {

constexpr mode_t kAnyWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

int descriptor(const OpenFile& file) { return static_cast<int>(file.handle); }

// Opens without ever blocking (O_NONBLOCK keeps a FIFO from waiting for a
// peer; it has no effect on regular files), then takes the lock and checks
// that what was opened is a regular file. The lock is what makes the same
// file under two names (a hard link, a symlink, "./a" and "a") fail to open
// a second time, as opening without sharing does on Windows.
bool open_locked(const std::string& path, int flags, bool refuse_write_protected, OpenFile& file) {
    int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    bool usable = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &status) == 0 &&
                  S_ISREG(status.st_mode) &&
                  // Root may write anything; a file nobody may write is
                  // still refused, as the read-only attribute is on Windows.
                  !(refuse_write_protected && (status.st_mode & kAnyWriteBits) == 0);
    if (!usable) {
        ::close(fd);
        return false;
    }
    file.handle = fd;
    file.length = static_cast<std::uint64_t>(status.st_size);
    file.identity = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    return true;
}

}  // namespace

bool open_input_file(const std::string& path, OpenFile& file) {
    return open_locked(path, O_RDONLY, false, file);
}

bool open_output_file(const std::string& path, OpenFile& file) {
    return open_locked(path, O_RDWR, true, file);
}

bool read_at(const OpenFile& file, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        ssize_t got = ::pread(descriptor(file), buffer.data() + done, buffer.size() - done,
                              static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool write_at(const OpenFile& file, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = ::pwrite(descriptor(file), bytes.data() + done, bytes.size() - done,
                               static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool set_file_length(const OpenFile& file, std::uint64_t length) {
    return ::ftruncate(descriptor(file), static_cast<off_t>(length)) == 0;
}

void close_file(OpenFile& file) {
    if (file.handle >= 0) ::close(descriptor(file));
    file.handle = -1;
}

// A range whose first byte is already in the cache is taken to be cached
// whole (a read with RWF_NOWAIT fails rather than wait for the disk).
// Otherwise the kernel is asked to read it in the background
// (POSIX_FADV_WILLNEED): the call returns once the read is queued, so one
// thread keeps many reads in flight. Opened as the run's own opens are
// (O_NONBLOCK: a FIFO never waits for a peer), but with no lock, so the
// run's lock on the same file never fails because of it.
bool warm_file_end(const std::string& path, std::size_t count) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    bool cached = false;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
        off_t length = status.st_size;
        off_t start = length - std::min(length, static_cast<off_t>(count));
#if defined(RWF_NOWAIT)  // Linux; elsewhere nothing tells, so the read is always asked for
        char first_byte;
        iovec probe{&first_byte, 1};
        cached = ::preadv2(fd, &probe, 1, start, RWF_NOWAIT) == 1;
#endif
        if (!cached) ::posix_fadvise(fd, start, length - start, POSIX_FADV_WILLNEED);
    }
    ::close(fd);
    return cached;
}

}  // namespace kestrane::platform
