// Lookups in one folder at once. Without the INIT flag that allows them, the
// kernel serves one lookup a folder at a time, so a held lookup would stop
// every other lookup in its folder. libfuse 3.14 turns the capability on in
// its high-level API but never sets the flag in its INIT reply; this passes
// the session's traffic through a thin layer that sets it.
#pragma once

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

namespace testfs {

// After the session is mounted, before its loop starts; false with errno
// set when libfuse refuses the layer.
bool allow_parallel_lookups(fuse_session* session);

}  // namespace testfs
