// What every request of the test file system passes through before it is
// served: the delay, the hold on chosen paths and the power switch; and what
// it leaves behind: the request counts and the count of changing requests,
// which can trip the power switch.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "cut_keeping.h"

namespace testfs {

// Request types, in the order the statistics list them.
enum class Op {
    getattr, readlink, mknod, mkdir, unlink, rmdir, symlink, rename, link, chmod, chown, truncate, open,
    read, write, statfs, flush, release, fsync, opendir, readdir, releasedir, fsyncdir, access, create,
    utimens, fallocate, count
};
const char* op_name(Op op);

// Requests that change the file system: writes, truncates, entry changes,
// attribute changes and syncs (an open with O_TRUNC counts as one too).
bool op_changes(Op op);

// Passing the gate: waits the delay, then while a path the request names is
// held, then takes the state lock. refused is -EIO when the power is cut
// (before or while the request waited): the request must then return it and
// do nothing. When a changing request leaves, it is counted, and the power is
// cut if that was the count a "cut-after" asked for.
class Request {
public:
    Request(Op op, const char* path, const char* other_path = nullptr);
    ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;
    int refused = 0;
    // Counts a request of a type that changes nothing as a change (an open
    // that truncates).
    void count_as_change() { changes_ = true; }

private:
    bool changes_;
    std::unique_lock<std::mutex> lock_;
};

// Control, from the control socket (each takes effect at once).
void set_delay(std::chrono::microseconds delay);
void hold(const std::string& path);  // a path as the mount shows it, "/a/b" or "a/b"
void release(const std::string& path);
void release_all();
int held_now();  // requests waiting on a hold at this moment
// Cuts the power now: the changes not yet durable are lost, but for what the
// keeping keeps (through the function set by on_cut), and every request from
// then on fails with EIO.
void cut(Keeping keeping = {});
// Cuts the power right after the count-th changing request from now (0: now).
void cut_after(std::uint64_t count, Keeping keeping = {});
bool is_cut();
std::uint64_t changes_so_far();
std::string statistics();  // "getattr=N readlink=N ..." for every request type

// Set once at start: what a cut does with the changes not yet durable,
// called with the state lock held.
void on_cut(void (*lose_unsynced)(const Keeping& keeping));
// The lock every request holds while it is served, for the control commands
// that touch the same state.
std::mutex& state_lock();

}  // namespace testfs
