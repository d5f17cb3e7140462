// Real faults while writing: a full file system (a small tmpfs mounted by
// the test) and a file-size limit. A write that runs out of room must be
// reported and leave the output byte for byte as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "support/run_tool.h"
#include "support/sample_files.h"

namespace kestrane {
namespace {

using namespace kestrane::testing;
namespace fs = std::filesystem;

// A tmpfs of the given size mounted on a new folder, unmounted again when
// the value ends. Mounting needs root (CAP_SYS_ADMIN); why_not says what
// went wrong otherwise.
struct SmallFileSystem {
    SmallFileSystem(const fs::path& folder, std::size_t bytes) : where(folder) {
        fs::create_directory(where);
        std::string options = "size=" + std::to_string(bytes);
        if (::mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) == 0) {
            mounted = true;
        } else {
            why_not = std::string("mount(tmpfs) failed: ") + std::strerror(errno) +
                      (::geteuid() == 0 ? " (running as root)" : " (not running as root)");
        }
    }
    ~SmallFileSystem() {
        if (mounted) ::umount2(where.c_str(), MNT_DETACH);
    }
    fs::path where;
    bool mounted = false;
    std::string why_not;
};

// Fills the file system holding path to the last byte: writes ever smaller
// pieces until even a single byte no longer fits.
void fill_up(const fs::path& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    Bytes chunk(1 << 16, 'f');
    for (std::size_t piece = chunk.size(); piece > 0; piece /= 2) {
        while (::write(fd, chunk.data(), piece) == static_cast<ssize_t>(piece)) {
        }
    }
    errno = 0;
    EXPECT_EQ(::write(fd, chunk.data(), 1), -1);
    EXPECT_EQ(errno, ENOSPC);
    ::close(fd);
}

std::map<std::string, Bytes> files_in(const fs::path& folder) {
    std::map<std::string, Bytes> files;
    for (const auto& item : fs::directory_iterator(folder)) files[item.path().filename()] = read_file(item.path());
    return files;
}

TEST(DiskFull, UpdatesAndAppendsThatRunOutOfRoomLeaveTheOutputAsItWas) {
    ScratchFolder folder;
    SmallFileSystem disk(folder / "disk", 256 * 1024);
    if (!disk.mounted) {
        GTEST_SKIP() << "SKIPPED: the disk-full test needs a tmpfs it can mount, and " << disk.why_not;
    }
    const Bytes big_tag = ape_tag({.item_bytes = 20000, .fill = 'B'});
    const Bytes id3 = id3v1_tag("Fits anywhere");
    const Bytes old_ape = ape_tag({.item_bytes = 300, .fill = 'o'});
    const Bytes old_big_ape = ape_tag({.item_bytes = 9000, .fill = 'O'});
    const Bytes sound = audio(3001, 5);
    // Inputs live outside the small file system, outputs on it.
    write_file(folder / "add.ape", sound + big_tag);
    write_file(folder / "grow.ape", sound + big_tag);
    write_file(folder / "grow2.ape", sound + big_tag);
    write_file(folder / "shrink.ape", sound + id3);
    write_file(folder / "disk" / "add.mp3", sound);
    write_file(folder / "disk" / "grow.mp3", sound + old_ape);
    write_file(folder / "disk" / "grow2.mp3", sound + id3v1_tag("Old"));
    write_file(folder / "disk" / "shrink.mp3", sound + old_big_ape);
    fill_up(folder / "disk" / "zz-filler");
    auto before = files_in(folder / "disk");

    ToolRun run = run_tool(folder.path, {"*.ape", "disk/*.mp3"});
    EXPECT_EQ(run.exit_status, 1);
    // The shrinking update needs no room and succeeds; the others fail.
    EXPECT_EQ(run.output, kBannerText + entry("disk/add.mp3", "error appending tag!\n") +
                              entry("disk/grow.mp3", "error updating tag!\n") +
                              entry("disk/grow2.mp3", "error updating tag!\n") +
                              entry("disk/shrink.mp3", "updated tag from shrink.ape\n"));
    auto after = files_in(folder / "disk");
    for (const char* name : {"add.mp3", "grow.mp3", "grow2.mp3", "zz-filler"}) {
        EXPECT_EQ(after[name], before[name]) << name << " changed";
    }
    EXPECT_EQ(after["shrink.mp3"], sound + id3);

    // With room again, the same run succeeds: lack of room was the only fault.
    fs::remove(folder / "disk" / "zz-filler");
    run = run_tool(folder.path, {"*.ape", "disk/*.mp3"});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output, kBannerText + entry("disk/add.mp3", "appended tag from add.ape\n") +
                              entry("disk/grow.mp3", "updated tag from grow.ape\n") +
                              entry("disk/grow2.mp3", "updated tag from grow2.ape\n") +
                              entry("disk/shrink.mp3", "tag already up to date from shrink.ape\n"));
    EXPECT_EQ(read_file(folder / "disk" / "add.mp3"), sound + big_tag);
    EXPECT_EQ(read_file(folder / "disk" / "grow.mp3"), sound + big_tag);
}

// An output whose old tag of 8 MiB is a hole (it takes no room), updated on
// a nearly full disk (2 MiB left): the write fails part way, and the old tag
// is put back as the hole it was, so the file takes no more room than
// before and the disk's room is given back too.
TEST(DiskFull, AnOldTagThatWasAHoleIsAHoleAgainAfterAFailedUpdate) {
    ScratchFolder folder;
    SmallFileSystem disk(folder / "disk", 4 << 20);
    if (!disk.mounted) {
        GTEST_SKIP() << "SKIPPED: the disk-full test needs a tmpfs it can mount, and " << disk.why_not;
    }
    const Bytes sound = audio(5000, 3);
    const Bytes hole_tag = zero_filled_ape_tag((8 << 20) - 64);
    write_file(folder / "big.ape", sound + ape_tag({.item_bytes = 9 << 20, .fill = 'n'}));
    write_file(folder / "disk" / "big.mp3", sound + hole_tag);
    fill_up(folder / "disk" / "zz-filler");
    fs::resize_file(folder / "disk" / "zz-filler", fs::file_size(folder / "disk" / "zz-filler") - (2 << 20));
    struct stat before {};
    ASSERT_EQ(::stat((folder / "disk" / "big.mp3").c_str(), &before), 0);
    struct statvfs room_before {};
    ASSERT_EQ(::statvfs((folder / "disk").c_str(), &room_before), 0);

    ToolRun run = run_tool(folder.path, {"big.ape", "disk/big.mp3"});
    EXPECT_EQ(run.output, kBannerText + entry("disk/big.mp3", "error updating tag!\n"));
    EXPECT_TRUE(read_file(folder / "disk" / "big.mp3") == sound + hole_tag);
    struct stat after {};
    ASSERT_EQ(::stat((folder / "disk" / "big.mp3").c_str(), &after), 0);
    EXPECT_EQ(after.st_blocks, before.st_blocks) << "blocks the file takes on the disk";
    struct statvfs room_after {};
    ASSERT_EQ(::statvfs((folder / "disk").c_str(), &room_after), 0);
    EXPECT_EQ(room_after.f_bfree, room_before.f_bfree);
}

// The limit set exactly at the new end lets the write through; one byte
// less makes it fail, and the output is then exactly as before.
TEST(FileSizeLimit, AWriteEndingAtTheLimitSucceedsOneByteMoreFailsCleanly) {
    const Bytes sound = audio(2000, 9);
    const Bytes tag = ape_tag({.item_bytes = 436, .fill = 'n'});  // 500 bytes
    const Bytes old_id3 = id3v1_tag("Old");
    const std::uint64_t new_length = sound.size() + tag.size();
    for (std::uint64_t limit : {new_length, new_length - 1}) {
        ScratchFolder folder;
        write_file(folder / "in.ape", sound + tag);
        write_file(folder / "append.mp3", sound);
        write_file(folder / "update.mp3", sound + old_id3);
        ToolRun run = run_tool(folder.path, {"in.ape", "*.mp3"}, RunOptions{.file_size_limit = limit});
        EXPECT_EQ(run.exit_status, limit == new_length ? 0 : 1);
        if (limit == new_length) {
            EXPECT_EQ(run.output, kBannerText + entry("append.mp3", "appended tag from in.ape\n") +
                                      entry("update.mp3", "updated tag from in.ape\n"));
            EXPECT_EQ(read_file(folder / "append.mp3"), sound + tag);
            EXPECT_EQ(read_file(folder / "update.mp3"), sound + tag);
        } else {
            EXPECT_EQ(run.output, kBannerText + entry("append.mp3", "error appending tag!\n") +
                                      entry("update.mp3", "error updating tag!\n"));
            EXPECT_EQ(read_file(folder / "append.mp3"), sound);
            EXPECT_EQ(read_file(folder / "update.mp3"), sound + old_id3);
        }
    }
}

// Pairs in flight never take what the run needs: with descriptors for one
// pair only (standard input, output and error take three of five; the
// journal then finds none and the run says so), or
// memory for a few of its big tags, every output still gets its tag. The
// tags in flight stay within their room of 32 MiB, so 8 pairs of 12 MiB
// never hold 96 MiB at once; and where memory holds one such pair only
// (24 MB of address space, the tool's own 8 MB included), a pair that ran
// out of memory beside another is tried again alone.
TEST(Workers, NeverTakeADescriptorOrMemoryTheRunNeeds) {
    ::setenv("KESTRANE_JOBS", "8", 1);
    struct Case {
        const char* what;
        int pairs;
        Bytes tag;
        RunOptions limits;
        Bytes old_tag = {};
        std::uint64_t most_memory_kib = 0;  // the peak the run may reach, when not 0
        std::string after = {};             // what the report says after the outputs
    };
    const Bytes six_mib = zero_filled_ape_tag((6 << 20) - 64);
    const Bytes other_six_mib = zero_filled_ape_tag((6 << 20) - 65);
    // With descriptors for one pair only, none is left for the journal: the
    // run says so, and every output still gets its tag.
    std::vector<Case> cases = {{"five descriptors", 3000, ape_tag({.item_bytes = 40}), {.open_files_limit = 5}, {}, 0,
                                "no journal could be kept: --undo will not cover this run!\n"}};
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // they reserve far more address space
    cases.push_back({"40 MB of address space", 40, ape_tag({.item_bytes = (1 << 20) - 64, .fill = 'm'}),
                     {.address_space_limit = 40000 * 1024}});
    cases.push_back({"room for two pairs of 12 MiB", 24, six_mib, {.measure_peak_memory = true}, other_six_mib, 64 << 10});
    cases.push_back({"24 MB of address space", 24, six_mib, {.address_space_limit = 24000 * 1024}, other_six_mib});
#endif
    for (const Case& c : cases) {
        ScratchFolder folder;
        std::string expected = kBannerText;
        const char* done = c.old_tag.empty() ? "appended tag from " : "updated tag from ";
        for (int i = 0; i < c.pairs; ++i) {
            std::string name = "p" + std::to_string(10000 + i);
            write_file(folder / (name + ".ape"), audio(100) + c.tag);
            write_file(folder / (name + ".mp3"), audio(100) + c.old_tag);
            expected += entry(name + ".mp3", done + name + ".ape\n");
        }
        expected += c.after;
        ToolRun run = run_tool(folder.path, {"*.ape", "*.mp3"}, c.limits);
        if (c.most_memory_kib != 0) {
            EXPECT_LE(run.peak_memory_kib, c.most_memory_kib) << c.what;
        }
        std::size_t differs = std::mismatch(run.output.begin(), run.output.end(), expected.begin(), expected.end())
                                  .first - run.output.begin();
        EXPECT_TRUE(run.output == expected) << c.what << ": the report differs from byte " << differs << " on: "
                                            << run.output.substr(differs > 40 ? differs - 40 : 0, 200);
    }
    ::unsetenv("KESTRANE_JOBS");
}

// Outputs that already reach past the limit: a tag that grows the file
// fails and is undone even though the undo itself can't write past the
// limit either; a tag that shrinks it needs no room and succeeds.
TEST(FileSizeLimit, OutputsAlreadyPastTheLimit) {
    const Bytes sound = audio(3000, 2);
    const Bytes old_tag = ape_tag({.item_bytes = 400, .fill = 'o'});  // straddles the limit
    const Bytes longer = ape_tag({.item_bytes = 900, .fill = 'l'});
    const Bytes shorter = id3v1_tag("Short");
    ScratchFolder folder;
    write_file(folder / "grow.ape", sound + longer);
    write_file(folder / "shrink.ape", sound + shorter);
    write_file(folder / "grow.mp3", sound + old_tag);
    write_file(folder / "shrink.mp3", sound + old_tag);
    ToolRun run = run_tool(folder.path, {"*.ape", "*.mp3"}, RunOptions{.file_size_limit = sound.size() + 200});
    EXPECT_EQ(run.output, kBannerText + entry("grow.mp3", "error updating tag!\n") +
                              entry("shrink.mp3", "updated tag from shrink.ape\n"));
    EXPECT_EQ(read_file(folder / "grow.mp3"), sound + old_tag);
    EXPECT_EQ(read_file(folder / "shrink.mp3"), sound + shorter);
}

// An interrupt (SIGINT, SIGTERM) that comes while a tag of 32 MiB is being
// written over one of 64 MiB waits for the write and the cut after it:
// every output ends with its old tag or its new one, never a part, whether
// the run's own thread or a worker writes it, and the tool ends as the
// signal would have ended it. After one interrupt every output written is
// reported; a second one (the other signal, so that the two do not merge
// while the thread that writes is inside the write), also during the
// write, ends the tool right after it.
TEST(Interrupt, ATagBeingWrittenIsWrittenWhole) {
    const Bytes sound = audio(1000, 4);
    const Bytes big_old = ape_tag({.item_bytes = 64 << 20, .fill = 'o'});
    const Bytes big_new = ape_tag({.item_bytes = 32 << 20, .fill = 'n'});
    const Bytes small = ape_tag({.item_bytes = 300, .fill = 's'});
    const Bytes old = id3v1_tag("Old");
    for (int signal_number : {SIGINT, SIGTERM}) {
        for (const char* jobs : {"1", "8"}) {
            for (int interrupts : {1, 2}) {
                const int other_signal = signal_number == SIGINT ? SIGTERM : SIGINT;
                ScratchFolder folder;
                auto old_tag = [&](int i) { return i == 0 ? big_old : old; };
                auto new_tag = [&](int i) { return i == 0 ? big_new : small; };
                for (int i = 0; i < 20; ++i) {
                    std::string name = "p" + std::to_string(10 + i);
                    write_file(folder / (name + ".ape"), sound + new_tag(i));
                    write_file(folder / (name + ".mp3"), sound + old_tag(i));
                }
                age_files(folder);
                const fs::path first = folder / "p10.mp3";
                const fs::file_time_type before = fs::last_write_time(first);
                bool caught_writing = false;  // the write has begun: the modification time moved
                ::setenv("KESTRANE_JOBS", jobs, 1);
                ToolRun run = run_tool(folder.path, {"*.ape", "*.mp3"}, {.while_running = [&](int pid) {
                    // The journal's note of the 64 MiB old tag is written
                    // first: on a busy disk that can take seconds.
                    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
                    while (!caught_writing && std::chrono::steady_clock::now() < give_up) {
                        caught_writing = fs::last_write_time(first) != before;
                        if (!caught_writing) ::usleep(50);
                    }
                    ::kill(pid, signal_number);
                    if (interrupts == 2) {
                        ::usleep(1000);
                        ::kill(pid, other_signal);
                    }
                }});
                ::unsetenv("KESTRANE_JOBS");
                SCOPED_TRACE(std::string(strsignal(signal_number)) + " " + std::to_string(interrupts) +
                             " time(s), KESTRANE_JOBS=" + jobs);
                EXPECT_TRUE(caught_writing);
                EXPECT_TRUE(run.signal == signal_number || (interrupts == 2 && run.signal == other_signal)) << run.signal;
                for (int i = 0; i < 20; ++i) {
                    std::string name = "p" + std::to_string(10 + i);
                    Bytes after = read_file(folder / (name + ".mp3"));
                    bool changed = after != sound + old_tag(i);
                    EXPECT_TRUE(!changed || after == sound + new_tag(i)) << name << " holds a part";
                    bool reported = run.output.find(entry(name + ".mp3", "updated tag from " + name + ".ape\n")) !=
                                    std::string::npos;
                    if (interrupts == 1) {
                        EXPECT_EQ(reported, changed) << name;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace kestrane
