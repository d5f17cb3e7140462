// Holes on POSIX systems: lseek's SEEK_DATA and SEEK_HOLE find them, and
// Linux's fallocate makes them.
#include "platform/holes.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kestrane::platform {
namespace {

constexpr std::uint64_t kSmallestHole = 4096;

}  // namespace

std::vector<ByteRange> data_in(const OpenFile& file, std::uint64_t from, std::uint64_t to) {
    if (from >= to) return {};
    // A hole is a whole block of the disk, 4 KiB on most: a shorter range
    // holds none worth asking about (zeros written back take one block).
    if (!file.may_have_holes || to - from < kSmallestHole) return {{from, to - from}};
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
    int fd = static_cast<int>(file.handle);
    std::vector<ByteRange> ranges;
    for (std::uint64_t at = from; at < to;) {
        off_t data = ::lseek(fd, static_cast<off_t>(at), SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) break;  // only a hole from here to the end
            return {{from, to - from}};
        }
        if (static_cast<std::uint64_t>(data) >= to) break;
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0) return {{from, to - from}};
        std::uint64_t end = std::min<std::uint64_t>(static_cast<std::uint64_t>(hole), to);
        ranges.push_back({static_cast<std::uint64_t>(data), end - static_cast<std::uint64_t>(data)});
        at = end;
    }
    return ranges;
#else
    return {{from, to - from}};
#endif
}

bool make_hole(const OpenFile& file, std::uint64_t offset, std::uint64_t length) {
#if defined(__linux__)
    return ::fallocate(static_cast<int>(file.handle), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                       static_cast<off_t>(offset), static_cast<off_t>(length)) == 0;
#else
    (void)file;
    (void)offset;
    (void)length;
    return false;
#endif
}

}  // namespace kestrane::platform
