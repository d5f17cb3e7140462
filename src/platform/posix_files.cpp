// Files on POSIX systems: positioned reads and writes on descriptors, each
// file held with an exclusive, non-waiting lock while it is open.
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <map>
#include <mutex>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#if defined(__linux__)
#include <sys/vfs.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include "names/name_rules.h"
#include "platform/held_folders.h"

namespace kestrane::platform {
namespace {

constexpr mode_t kAnyWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

int descriptor(const OpenFile& file) { return static_cast<int>(file.handle); }

// Moves all size bytes with step(bytes done so far), which reads or writes
// some of the rest; false on a failure or a transfer of nothing.
template <typename Step>
bool transfer_all(std::size_t size, Step step) {
    for (std::size_t done = 0; done < size;) {
        ssize_t moved = step(done);
        if (moved < 0 && errno == EINTR) continue;
        if (moved <= 0) return false;
        done += static_cast<std::size_t>(moved);
    }
    return true;
}

// Gives the lock back, then closes. A close alone frees the lock only with
// the last reference to the open file, and another process may hold one for
// a moment (whatever reads /proc/PID/fd or /proc/PID/fdinfo, as lsof and
// process monitors do): until it lets go, the file would look held by
// someone else to the next open, this run's own included.
void unlock_and_close(int fd) {
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

// Opens without ever blocking (O_NONBLOCK keeps a FIFO from waiting for a
// peer; it has no effect on regular files), then takes the lock and checks
// that what was opened is a regular file. The lock is what makes the same
// file under two names (a hard link, a symlink, "./a" and "a") fail to open
// a second time, as opening without sharing does on Windows.
bool open_locked(const std::string& path, const HeldFolder* folder, int flags, bool refuse_write_protected,
                 OpenFile& file) {
    flags |= O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = folder == nullptr ? ::open(path.c_str(), flags)
                               : ::openat(static_cast<int>(folder->handle), path.substr(directory_part(path).size()).c_str(), flags);
    if (fd < 0) return false;
    struct stat status {};
    bool usable = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &status) == 0 &&
                  S_ISREG(status.st_mode) &&
                  // Root may write anything; a file nobody may write is
                  // still refused, as the read-only attribute is on Windows.
                  !(refuse_write_protected && (status.st_mode & kAnyWriteBits) == 0);
    if (!usable) {
        unlock_and_close(fd);
        return false;
    }
    file.handle = fd;
    file.length = static_cast<std::uint64_t>(status.st_size);
    file.identity = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    file.may_have_holes = static_cast<std::uint64_t>(status.st_blocks) * 512 < file.length;
    return true;
}

// Whether files of the device lie on a local disk, asked once a device.
// Network file systems (NFS, SMB, and FUSE, which often stands for one) say
// so in statfs() on Linux; elsewhere no device is taken to be local.
bool is_local_device(dev_t device, const std::string& a_path_on_it) {
#if defined(__linux__)
    static std::mutex mutex;
    static std::map<dev_t, bool> local;
    std::lock_guard lock(mutex);
    auto [known, fresh] = local.try_emplace(device, false);
    if (fresh) {
        constexpr unsigned long kNetworkFileSystems[] = {0x6969 /* NFS */, 0x517B /* SMB */, 0xFE534D42 /* SMB2 */,
                                                         0xFF534D42 /* CIFS */, 0x65735546 /* FUSE */,
                                                         0x01021997 /* 9P */, 0x00C36400 /* Ceph */};
        struct statfs system {};
        known->second = ::statfs(a_path_on_it.c_str(), &system) == 0 &&
                        std::none_of(std::begin(kNetworkFileSystems), std::end(kNetworkFileSystems),
                                     [&](unsigned long type) { return static_cast<unsigned long>(system.f_type) == type; });
    }
    return known->second;
#else
    (void)device;
    (void)a_path_on_it;
    return false;
#endif
}

}  // namespace

bool open_input_file(const std::string& path, OpenFile& file, const HeldFolder* folder) {
    return open_locked(path, folder, O_RDONLY, false, file);
}

bool open_output_file(const std::string& path, OpenFile& file, const HeldFolder* folder) {
    return open_locked(path, folder, O_RDWR, true, file);
}

bool read_at(const OpenFile& file, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    return transfer_all(buffer.size(), [&](std::size_t done) {
        return ::pread(descriptor(file), buffer.data() + done, buffer.size() - done, static_cast<off_t>(offset + done));
    });
}

bool write_at(const OpenFile& file, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    return transfer_all(bytes.size(), [&](std::size_t done) {
        return ::pwrite(descriptor(file), bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    });
}

bool set_file_length(const OpenFile& file, std::uint64_t length) {
    return ::ftruncate(descriptor(file), static_cast<off_t>(length)) == 0;
}

void close_file(OpenFile& file) {
    if (file.handle >= 0) unlock_and_close(descriptor(file));
    file.handle = -1;
}

std::optional<FileFacts> look_up_file(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    return FileFacts{{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)},
                     static_cast<std::uint64_t>(status.st_size), S_ISREG(status.st_mode)};
}

bool is_on_local_disk(const std::string& path, const FileFacts& facts) {
    return is_local_device(static_cast<dev_t>(facts.identity.volume), path);
}

// POSIX_FADV_WILLNEED returns once the read is queued, so a few threads keep
// many reads in flight and the disk serves them in its own order. Opened
// without blocking (a FIFO never waits for a peer) and without a lock, so no
// open of the run's fails because of it.
void ask_to_read_ahead(const std::string& path, std::uint64_t offset, std::uint64_t count) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    ::posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(count), POSIX_FADV_WILLNEED);
    ::close(fd);
}

// Descriptors are numbered from 0 up to the limit: the free ones among the
// lowest numbers are counted, one cheap call each, until there are enough.
std::size_t free_file_descriptors(std::size_t enough) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    std::size_t free = 0;
    for (rlim_t fd = 0; fd < limit.rlim_cur && free < enough; ++fd) {
        if (::fcntl(static_cast<int>(fd), F_GETFD) == -1 && errno == EBADF) ++free;
    }
    return free;
}

}  // namespace kestrane::platform
