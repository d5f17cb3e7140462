// The heap on Windows: the process's one heap serves every thread already,
// and gives big blocks memory of their own by itself.
#include "platform/memory.h"

namespace kestrane::platform {

void share_one_heap_between_threads() {}

void give_big_blocks_back_when_freed() {}

}  // namespace kestrane::platform
