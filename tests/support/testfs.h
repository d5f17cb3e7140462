// Mounts the test suite's own FUSE file system (tests/testfs) over a
// backing folder for a test: a pass-through that can be slow (every request
// waits a set delay first), hang (requests naming a held path wait until it
// is released) and lose power (in volatile mode, changes not yet synced are
// thrown away at a cut, or all but a part a seed chooses, and every request
// fails with EIO from then on).
//
//     KESTRANE_SKIP_WITHOUT_TESTFS();
//     ScratchFolder folder;
//     TestFs share(folder / "disk", {.delay = 500us});
//     write_file(share / "song.mp3", ...);
//     share.hold("song.mp3");  // its lookups, opens and reads wait from now on
//
// Mounting needs /dev/fuse and root (or fusermount3); tests that mount are
// labelled "root". The mount is gone when the value ends, and the file
// system process ends with the thread that mounted it (make it on the
// test's own thread), however that ends; a mount that a killed file system
// process left behind is unmounted by the next mount. Kill the programs
// that use the mount before it is unmounted: the unmount waits 5 seconds
// for their files to close, then kills the file system and fails the test.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kestrane::testing {

// "" when the file system can be mounted here, else why not.
std::string testfs_unavailable();

// Skips the test, saying why, where the file system cannot be mounted.
#define KESTRANE_SKIP_WITHOUT_TESTFS()                                                  \
    if (std::string why_no_testfs = ::kestrane::testing::testfs_unavailable();          \
        !why_no_testfs.empty())                                                         \
    GTEST_SKIP() << "SKIPPED: this test needs the test FUSE file system, and " << why_no_testfs

// Whether a test file system is mounted on the folder now.
bool testfs_mounted_on(const std::filesystem::path& folder);

struct TestFsOptions {
    bool volatile_writes = false;       // changes durable only once synced
    std::chrono::microseconds delay{};  // every request waits this long first
    // Where to mount (made when missing, left when unmounted), so that a
    // mount after a cut shows the files at the same paths, as a disk after a
    // reboot does; empty: a fresh folder.
    std::filesystem::path mount_point{};
};

class TestFs {
public:
    // Mounts over backing (an existing folder) on a fresh folder, and returns
    // once the mount answers; throws std::runtime_error, with the file
    // system's complaint, when it cannot.
    explicit TestFs(const std::filesystem::path& backing, TestFsOptions options = {});
    ~TestFs();
    TestFs(const TestFs&) = delete;
    TestFs& operator=(const TestFs&) = delete;

    const std::filesystem::path& path() const { return mount_point_; }
    std::filesystem::path operator/(std::string_view name) const { return mount_point_ / name; }
    int process() const { return process_; }  // the file system's process id

    // One control command (tests/testfs/control.h lists them) and its reply;
    // throws on an "error: ..." reply or none.
    std::string command(const std::string& line);
    void set_delay(std::chrono::microseconds delay);
    void hold(const std::string& path);  // as the mount shows it: "a/song.mp3"
    void release(const std::string& path = "");  // "": every held path
    int held();  // requests waiting on a hold now
    // Waits until at least count requests wait on a hold; false at the timeout.
    bool wait_until_held(int count, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    void cut();
    void cut_after(std::uint64_t changes);  // right after the changes-th changing request from now
    // Cuts that keep a part of what was not synced, as a disk that wrote some
    // of it back before the power went: each unsynced 4 KiB page, each
    // file's length change and each entry change, by a coin the seed tosses
    // (the same seed, the same requests: the same part; tests/testfs/README.md).
    void cut_keeping(std::uint64_t seed);
    void cut_after_keeping(std::uint64_t changes, std::uint64_t seed);
    std::uint64_t changes();  // changing requests since the mount
    void sync();  // everything durable now

    // Releases what is held and unmounts (lazily when files are still open in
    // the mount), then waits for the file system to end (killing it after 5
    // seconds). In volatile mode, what is not durable yet is then written,
    // unless the power was cut. Done by the destructor too.
    void unmount();

private:
    std::filesystem::path folder_;       // holds the mount point, the control socket and the log
    std::filesystem::path mount_point_;
    int process_ = -1;
};

}  // namespace kestrane::testing
