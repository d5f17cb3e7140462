// The heap on POSIX systems: glibc's allocator takes settings; others are
// left as they are.
#include "platform/memory.h"

#include <cstdlib>  // says, through __GLIBC__, whether the C library is glibc
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace kestrane::platform {

void share_one_heap_between_threads() {
#if defined(__GLIBC__)
    ::mallopt(M_ARENA_MAX, 1);
#endif
}

void give_big_blocks_back_when_freed() {
#if defined(__GLIBC__)
    ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

}  // namespace kestrane::platform
