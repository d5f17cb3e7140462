// The file system's requests: a pass-through to the backing folder, each
// request through the gate (delay, hold, power switch), file data and folder
// entries kept unsynced in volatile mode.
#pragma once

#define FUSE_USE_VERSION 312
#include <fuse.h>

#include <string>

namespace testfs {

struct Settings {
    std::string backing;          // the backing folder, an absolute path
    bool volatile_mode = false;   // changes durable only once synced
    double cache_seconds = 0;     // how long the kernel may keep names and attributes
};

// False with errno set when the backing folder cannot be opened, or, in
// volatile mode, its graveyard made.
bool start_operations(const Settings& settings);
const fuse_operations& operations();

// The control socket's "sync": everything durable now, as a sync of the
// whole file system would make it. False when the power is cut.
bool sync_everything();
// At unmount, as a clean shutdown: what is not durable yet is written now
// (after a power cut nothing is left to write), and the graveyard goes.
void finish_operations();

}  // namespace testfs
