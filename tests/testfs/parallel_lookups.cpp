#include "parallel_lookups.h"

#include <atomic>
#include <cerrno>
#include <linux/fuse.h>
#include <sys/uio.h>
#include <unistd.h>

namespace testfs {
namespace {

std::atomic<std::uint64_t> init_request{0};  // the INIT request's number, once read

ssize_t read_request(int fd, void* buffer, size_t size, void*) {
    ssize_t got = ::read(fd, buffer, size);
    if (got >= static_cast<ssize_t>(sizeof(fuse_in_header))) {
        const auto* header = static_cast<const fuse_in_header*>(buffer);
        if (header->opcode == FUSE_INIT) init_request = header->unique;
    }
    return got;
}

ssize_t write_reply(int fd, iovec* pieces, int count, void*) {
    std::uint64_t init = init_request.load();
    if (init != 0 && count >= 2 && pieces[0].iov_len >= sizeof(fuse_out_header) &&
        pieces[1].iov_len >= sizeof(fuse_init_out)) {
        const auto* header = static_cast<const fuse_out_header*>(pieces[0].iov_base);
        if (header->unique == init && header->error == 0) {
            static_cast<fuse_init_out*>(pieces[1].iov_base)->flags |= FUSE_PARALLEL_DIROPS;
            init_request = 0;
        }
    }
    return ::writev(fd, pieces, count);
}

}  // namespace

bool allow_parallel_lookups(fuse_session* session) {
    static const fuse_custom_io layer{write_reply, read_request, nullptr, nullptr};
    return fuse_session_custom_io(session, &layer, fuse_session_fd(session)) == 0;
}

}  // namespace testfs
