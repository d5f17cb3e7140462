#include "gate.h"

#include <cerrno>
#include <condition_variable>
#include <set>
#include <thread>

namespace testfs {
namespace {

constexpr const char* kOpNames[] = {
    "getattr", "readlink", "mknod", "mkdir", "unlink", "rmdir", "symlink", "rename", "link",
    "chmod", "chown", "truncate", "open", "read", "write", "statfs", "flush", "release", "fsync",
    "opendir", "readdir", "releasedir", "fsyncdir", "access", "create", "utimens", "fallocate"};
static_assert(std::size(kOpNames) == static_cast<std::size_t>(Op::count));

std::atomic<long> delay_us{0};
std::atomic<bool> power_cut{false};
std::atomic<std::uint64_t> changes{0};
std::atomic<std::uint64_t> request_counts[static_cast<int>(Op::count)];
std::uint64_t cut_at = 0;  // the change count that cuts the power; 0: none (under the state lock)
Keeping keeping_at_cut;    // what that cut keeps (under the state lock)
void (*lose_unsynced)(const Keeping&) = nullptr;

std::mutex& hold_lock() {
    static std::mutex lock;
    return lock;
}
std::condition_variable hold_changed;
std::set<std::string> held_paths;  // under hold_lock()
int waiting = 0;                   // under hold_lock()

std::string as_mount_path(const std::string& path) {
    std::string result = path.empty() || path[0] != '/' ? "/" + path : path;
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

bool names_held(const char* path, const char* other_path) {
    return (path && held_paths.count(path)) || (other_path && held_paths.count(other_path));
}

// With the state lock held.
void cut_locked(const Keeping& keeping) {
    if (power_cut.exchange(true)) return;
    cut_at = 0;
    if (lose_unsynced) lose_unsynced(keeping);
    std::lock_guard lock(hold_lock());
    hold_changed.notify_all();
}

}  // namespace

const char* op_name(Op op) { return kOpNames[static_cast<int>(op)]; }

bool op_changes(Op op) {
    switch (op) {
        case Op::mknod: case Op::mkdir: case Op::unlink: case Op::rmdir: case Op::symlink:
        case Op::rename: case Op::link: case Op::chmod: case Op::chown: case Op::truncate:
        case Op::write: case Op::fsync: case Op::fsyncdir: case Op::create: case Op::utimens:
        case Op::fallocate:
            return true;
        default:
            return false;
    }
}

Request::Request(Op op, const char* path, const char* other_path) : changes_(op_changes(op)) {
    ++request_counts[static_cast<int>(op)];
    if (power_cut) {
        refused = -EIO;
        return;
    }
    if (long delay = delay_us.load(); delay > 0) std::this_thread::sleep_for(std::chrono::microseconds(delay));
    {
        std::unique_lock lock(hold_lock());
        if (names_held(path, other_path)) {
            ++waiting;
            hold_changed.wait(lock, [&] { return power_cut || !names_held(path, other_path); });
            --waiting;
        }
    }
    lock_ = std::unique_lock(state_lock());
    if (power_cut) refused = -EIO;
}

Request::~Request() {
    if (refused || !changes_ || !lock_.owns_lock()) return;
    std::uint64_t count = ++changes;
    if (cut_at != 0 && count >= cut_at) cut_locked(keeping_at_cut);
}

void set_delay(std::chrono::microseconds delay) { delay_us = static_cast<long>(delay.count()); }

void hold(const std::string& path) {
    std::lock_guard lock(hold_lock());
    held_paths.insert(as_mount_path(path));
}

void release(const std::string& path) {
    std::lock_guard lock(hold_lock());
    held_paths.erase(as_mount_path(path));
    hold_changed.notify_all();
}

void release_all() {
    std::lock_guard lock(hold_lock());
    held_paths.clear();
    hold_changed.notify_all();
}

int held_now() {
    std::lock_guard lock(hold_lock());
    return waiting;
}

void cut(Keeping keeping) {
    std::lock_guard lock(state_lock());
    cut_locked(keeping);
}

void cut_after(std::uint64_t count, Keeping keeping) {
    std::lock_guard lock(state_lock());
    if (count == 0) {
        cut_locked(keeping);
    } else if (!power_cut) {
        cut_at = changes + count;
        keeping_at_cut = keeping;
    }
}

bool is_cut() { return power_cut; }

std::uint64_t changes_so_far() { return changes; }

std::string statistics() {
    std::string text;
    for (int op = 0; op < static_cast<int>(Op::count); ++op) {
        if (!text.empty()) text += ' ';
        text += std::string(kOpNames[op]) + "=" + std::to_string(request_counts[op].load());
    }
    return text;
}

void on_cut(void (*lose)(const Keeping&)) { lose_unsynced = lose; }

std::mutex& state_lock() {
    static std::mutex lock;
    return lock;
}

}  // namespace testfs
