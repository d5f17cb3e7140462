// How the process's heap behaves once the run has threads of its own.
#pragma once

namespace kestrane::platform {

// Every thread allocates from one shared heap: heaps of their own would
// each reserve address space (64 MiB apiece with glibc) that a memory limit
// needs for tags. The threads allocate little else.
void share_one_heap_between_threads();

// A block of 1 MiB or more (a big tag) gets memory of its own, given back
// to the system the moment it is freed, so that the tags in flight never
// hold more than their room. (glibc otherwise raises that threshold after
// the first big block is freed, and freed tags stay in the heap.)
void give_big_blocks_back_when_freed();

}  // namespace kestrane::platform
