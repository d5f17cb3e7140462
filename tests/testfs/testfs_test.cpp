// The test file system itself: a power cut keeps exactly what was synced,
// and a cut keeping a seed keeps that and a part of the rest the seed
// chooses; a held file's lookups wait while others pass, the delay slows
// requests, and no mount outlives the test process or the file system
// process.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/sample_files.h"
#include "support/testfs.h"

namespace kestrane {
namespace {

using namespace kestrane::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Writes bytes at the offset of the file (made if missing), optionally
// fsyncing it before it is closed.
void put(const fs::path& file, const Bytes& bytes, off_t at = 0, bool then_sync = false) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << file;
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), at), static_cast<ssize_t>(bytes.size()));
    if (then_sync) {
        EXPECT_EQ(::fsync(fd), 0);
    }
    ::close(fd);
}

void sync_folder(const fs::path& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::fsync(fd), 0);
    ::close(fd);
}

int stat_error(const fs::path& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? 0 : errno;
}

constexpr std::size_t kPage = 4096;

// Writes the bytes over the file one page at a time, a write request each,
// and does not sync them.
void rewrite_by_pages(const fs::path& file, const Bytes& bytes) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << file;
    for (std::size_t at = 0; at < bytes.size(); at += kPage) {
        std::size_t size = std::min(kPage, bytes.size() - at);
        ASSERT_EQ(::pwrite(fd, bytes.data() + at, size, static_cast<off_t>(at)), static_cast<ssize_t>(size));
    }
    ::close(fd);
}

// For each 4 KiB page of the bytes, the letter of the first candidate whose
// page there it equals; '?' for none.
std::string pages_as(const Bytes& bytes, const std::vector<std::pair<char, Bytes>>& candidates) {
    std::string letters;
    for (std::size_t at = 0; at < bytes.size(); at += kPage) {
        std::size_t size = std::min(kPage, bytes.size() - at);
        char letter = '?';
        for (const auto& [candidate_letter, candidate] : candidates) {
            if (candidate.size() >= at + size &&
                std::equal(bytes.begin() + at, bytes.begin() + at + size, candidate.begin() + at)) {
                letter = candidate_letter;
                break;
            }
        }
        letters += letter;
    }
    return letters;
}

const Bytes kOldPages = audio(64 * kPage, 1), kNewPages = audio(64 * kPage, 2);
enum class CutWhen { after_the_rewrite, armed_before_it };

// A file of 64 pages synced with old bytes, rewritten with new ones a page at
// a time, not synced, and the power cut keeping the seed: after the rewrite,
// or armed before it to cut right after its last write. What each page holds
// after the reboot: 'o' old, 'n' new, '?' neither.
std::string pages_after_cut_keeping(std::uint64_t seed, CutWhen when) {
    ScratchFolder disk;
    {
        TestFs mount(disk.path, {.volatile_writes = true});
        put(mount / "file.bin", kOldPages, 0, true);
        sync_folder(mount.path());
        if (when == CutWhen::armed_before_it) mount.cut_after_keeping(64, seed);
        rewrite_by_pages(mount / "file.bin", kNewPages);
        if (when == CutWhen::after_the_rewrite) mount.cut_keeping(seed);
    }
    TestFs after_reboot(disk.path, {.volatile_writes = true});
    Bytes after = read_file(after_reboot / "file.bin");
    EXPECT_EQ(after.size(), kOldPages.size());
    return pages_as(after, {{'o', kOldPages}, {'n', kNewPages}});
}

TEST(TestFs, APowerCutLosesTheDataNotSyncedAndKeepsWhatWas) {
    KESTRANE_SKIP_WITHOUT_TESTFS();
    ScratchFolder disk;
    const Bytes old_bytes = audio(10000, 1), new_bytes = audio(9000, 2);
    for (const char* name : {"synced.bin", "unsynced.bin", "shortened.bin"}) write_file(disk / name, old_bytes);
    {
        TestFs mount(disk.path, {.volatile_writes = true});
        put(mount / "synced.bin", new_bytes, 5000, true);
        put(mount / "unsynced.bin", new_bytes, 5000);
        fs::resize_file(mount / "shortened.bin", 100);
        Bytes grown(old_bytes.begin(), old_bytes.begin() + 5000);
        grown = grown + new_bytes;
        EXPECT_EQ(read_file(mount / "unsynced.bin"), grown);  // programs see the latest state
        EXPECT_EQ(fs::file_size(mount / "shortened.bin"), 100u);
        EXPECT_EQ(read_file(disk / "unsynced.bin"), old_bytes);  // the disk, the last synced one

        mount.cut();
        EXPECT_EQ(stat_error(mount / "synced.bin"), EIO);
    }
    TestFs after_reboot(disk.path, {.volatile_writes = true});
    Bytes synced(old_bytes.begin(), old_bytes.begin() + 5000);
    EXPECT_EQ(read_file(after_reboot / "synced.bin"), synced + new_bytes);
    EXPECT_EQ(read_file(after_reboot / "unsynced.bin"), old_bytes);
    EXPECT_EQ(read_file(after_reboot / "shortened.bin"), old_bytes);
}

TEST(TestFs, APowerCutUndoesEntryChangesWhoseFolderWasNotSynced) {
    KESTRANE_SKIP_WITHOUT_TESTFS();
    ScratchFolder disk;
    for (const char* name : {"removed.txt", "renamed.txt", "replacing.txt", "replaced.txt", "gone.txt"}) {
        write_file(disk / name, bytes_of(name));
    }
    {
        TestFs mount(disk.path, {.volatile_writes = true});
        put(mount / "kept.txt", bytes_of("kept"), 0, true);
        fs::remove(mount / "gone.txt");
        sync_folder(mount.path());  // both durable from here on
        put(mount / "lost.txt", bytes_of("lost"), 0, true);  // its data synced, its name not
        fs::remove(mount / "removed.txt");
        fs::rename(mount / "renamed.txt", mount / "moved.txt");
        fs::rename(mount / "replacing.txt", mount / "replaced.txt");
        mount.cut();
    }
    TestFs after_reboot(disk.path, {.volatile_writes = true});
    std::map<std::string, Bytes> expected{{"kept.txt", bytes_of("kept")}};
    for (const char* name : {"removed.txt", "renamed.txt", "replacing.txt", "replaced.txt"}) {
        expected[name] = bytes_of(name);
    }
    EXPECT_EQ(snapshot(after_reboot.path()), expected);
}

TEST(TestFs, AnUnmountWithoutACutKeepsEveryChangeAsAShutdownWould) {
    KESTRANE_SKIP_WITHOUT_TESTFS();
    ScratchFolder disk;
    write_file(disk / "old.txt", bytes_of("old"));
    {
        TestFs mount(disk.path, {.volatile_writes = true});
        put(mount / "new.txt", bytes_of("new"));
        put(mount / "old.txt", bytes_of("changed"));
        fs::rename(mount / "new.txt", mount / "renamed.txt");
    }
    EXPECT_EQ(snapshot(disk.path), (std::map<std::string, Bytes>{{"old.txt", bytes_of("changed")},
                                                                 {"renamed.txt", bytes_of("new")}}));
}

TEST(TestFs, CutAfterCutsRightAfterTheChosenChangingRequest) {
    KESTRANE_SKIP_WITHOUT_TESTFS();
    ScratchFolder disk;
    write_file(disk / "file", bytes_of("...."));
    {
        TestFs mount(disk.path, {.volatile_writes = true});
        std::uint64_t before = mount.changes();
        mount.cut_after(2);
        int fd = ::open((mount / "file").c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::pwrite(fd, "A", 1, 0), 1);  // change 1
        EXPECT_EQ(::fsync(fd), 0);              // change 2: durable, then the power goes
        EXPECT_EQ(::pwrite(fd, "B", 1, 1), -1);
        EXPECT_EQ(errno, EIO);
        ::close(fd);
        EXPECT_EQ(mount.changes(), before + 2);
    }
    TestFs after_reboot(disk.path, {.volatile_writes = true});
    EXPECT_EQ(read_file(after_reboot / "file"), bytes_of("A..."));
}

TEST(TestFs, ACutKeepingASeedKeepsSomeUnsyncedPagesWholeAndLosesTheOthers) {
    KESTRANE_SKIP_WITHOUT_TESTFS();
    std::string pages = pages_after_cut_keeping(7, CutWhen::after_the_rewrite);
    EXPECT_EQ(pages.find('?'), std::string::npos) << pages;
    EXPECT_NE(pages.find('n'), std::string::npos) << "no page kept: " << pages;
    EXPECT_NE(pages.find('o'), std::string::npos) << "no page lost: " << pages;
}

TEST(TestFs, TheSameSeedKeepsTheSamePagesWhenTheCutComesAfterTheSameRequests) {
    KESTRANE_SKIP_WITHOUT_TESTFS();
    std::string cut_now = pages_after_cut_keeping(7, CutWhen::after_the_rewrite);
    EXPECT_EQ(pages_after_cut_keeping(7, CutWhen::armed_before_it), cut_now);
    EXPECT_NE(pages_after_cut_keeping(8, CutWhen::after_the_rewrite), cut_now) << "the seed chooses nothing";
}

TEST(TestFs, ACutKeepingASeedKeepsAllThatWasSyncedWhateverItKeepsOfTheRest) {
    KESTRANE_SKIP_WITHOUT_TESTFS();
    const Bytes synced = audio(4 * kPage, 1), newer = audio(4 * kPage, 2);
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        ScratchFolder disk;
        {
            TestFs mount(disk.path, {.volatile_writes = true});
            put(mount / "synced.bin", synced, 0, true);
            put(mount / "partly.bin", synced, 0, true);
            sync_folder(mount.path());
            for (std::size_t page : {1, 3}) {
                put(mount / "partly.bin", Bytes(newer.begin() + page * kPage, newer.begin() + (page + 1) * kPage),
                    static_cast<off_t>(page * kPage));
            }
            put(mount / "unsynced.bin", newer);
            mount.cut_keeping(seed);
        }
        TestFs after_reboot(disk.path, {.volatile_writes = true});
        EXPECT_EQ(read_file(after_reboot / "synced.bin"), synced) << "seed " << seed;
        std::string pages = pages_as(read_file(after_reboot / "partly.bin"), {{'s', synced}, {'n', newer}});
        EXPECT_TRUE(pages == "ssss" || pages == "snss" || pages == "sssn" || pages == "snsn")
            << "seed " << seed << ": " << pages;
    }
}

TEST(TestFs, ACutKeepingASeedKeepsAFileLengthChangeWholeOrNotAtAll) {
    KESTRANE_SKIP_WITHOUT_TESTFS();
    ScratchFolder disk;
    const Bytes old_bytes = audio(4 * kPage, 1), new_bytes = audio(4 * kPage, 2), zeros(4 * kPage, 0);
    const Bytes old_page(old_bytes.begin(), old_bytes.begin() + kPage);
    const Bytes old_start(old_bytes.begin(), old_bytes.begin() + 1000);
    auto name = [](const char* kind, int index) { return std::string(kind) + std::to_string(index); };
    for (int index = 0; index < 16; ++index) {
        write_file(disk / name("grown", index), old_page);
        write_file(disk / name("shortened", index), old_bytes);
    }
    {
        TestFs mount(disk.path, {.volatile_writes = true});
        for (int index = 0; index < 16; ++index) {
            put(mount / name("grown", index), new_bytes);
            fs::resize_file(mount / name("shortened", index), 1000);
        }
        mount.cut_keeping(7);
    }
    TestFs after_reboot(disk.path, {.volatile_writes = true});
    std::set<std::size_t> grown_lengths, shortened_lengths;
    for (int index = 0; index < 16; ++index) {
        Bytes grown = read_file(after_reboot / name("grown", index));
        grown_lengths.insert(grown.size());
        // The first page old or new, and past the old length new, or zeros where a page was lost.
        std::string pages = pages_as(grown, {{'o', old_bytes}, {'n', new_bytes}, {'z', zeros}});
        EXPECT_TRUE(pages.size() == 1 || pages.size() == 4) << pages;
        EXPECT_TRUE(pages[0] == 'o' || pages[0] == 'n') << pages;
        EXPECT_EQ(pages.find_first_not_of("nz", 1), std::string::npos) << pages;
        Bytes shortened = read_file(after_reboot / name("shortened", index));
        shortened_lengths.insert(shortened.size());
        EXPECT_TRUE(shortened == old_bytes || shortened == old_start) << name("shortened", index);
    }
    EXPECT_EQ(grown_lengths, (std::set<std::size_t>{kPage, 4 * kPage}));
    EXPECT_EQ(shortened_lengths, (std::set<std::size_t>{1000, 4 * kPage}));
}

TEST(TestFs, ACutKeepingASeedKeepsSomeEntryChangesButNoneWithoutTheEarlierOnesOnItsName) {
    KESTRANE_SKIP_WITHOUT_TESTFS();
    ScratchFolder disk;
    auto name = [](const char* kind, int index) { return std::string(kind) + std::to_string(index); };
    for (int index = 0; index < 16; ++index) write_file(disk / name("a", index), bytes_of(name("old", index)));
    {
        TestFs mount(disk.path, {.volatile_writes = true});
        for (int index = 0; index < 16; ++index) {
            fs::rename(mount / name("a", index), mount / name("b", index));
            put(mount / name("a", index), bytes_of(name("new", index)), 0, true);  // the name not synced
        }
        mount.cut_keeping(7);
    }
    TestFs after_reboot(disk.path, {.volatile_writes = true});
    std::map<std::string, Bytes> files = snapshot(after_reboot.path());
    std::set<std::string> outcomes;
    for (int index = 0; index < 16; ++index) {
        std::string a = name("a", index), b = name("b", index);
        std::string outcome = files.count(a) ? (files[a] == bytes_of(name("old", index)) ? "old a" : "new a") : "";
        if (files.count(b)) outcome += files[b] == bytes_of(name("old", index)) ? ", old b" : ", bad b";
        outcomes.insert(outcome);
    }
    // Nothing kept, the rename kept, or both: never the new file without the rename, the old one lost.
    EXPECT_EQ(outcomes, (std::set<std::string>{"old a", ", old b", "new a, old b"}));
}

TEST(TestFs, AHeldFileStopsItsLookupsUntilReleasedWhileOthersPass) {
    KESTRANE_SKIP_WITHOUT_TESTFS();
    ScratchFolder disk;
    fs::create_directory(disk / "album");
    write_file(disk / "album" / "held.mp3", audio(10));
    write_file(disk / "album" / "free.mp3", audio(10));
    TestFs mount(disk.path);
    mount.hold("album/held.mp3");
    auto held_stat = std::async(std::launch::async, [&] { return stat_error(mount / "album" / "held.mp3"); });
    ASSERT_TRUE(mount.wait_until_held(1));
    auto free_stat = std::async(std::launch::async, [&] { return stat_error(mount / "album" / "free.mp3"); });
    EXPECT_EQ(free_stat.wait_for(10s), std::future_status::ready) << "a lookup waited for the held one";
    EXPECT_EQ(held_stat.wait_for(0s), std::future_status::timeout);
    mount.release("album/held.mp3");
    EXPECT_EQ(held_stat.get(), 0);
    EXPECT_EQ(free_stat.get(), 0);
}

TEST(TestFs, EveryRequestWaitsTheDelaySetAtTheMountOrLater) {
    KESTRANE_SKIP_WITHOUT_TESTFS();
    ScratchFolder disk;
    write_file(disk / "file", audio(10));
    TestFs mount(disk.path, {.delay = 50ms});
    auto timed_stat = [&] {
        auto start = Clock::now();
        EXPECT_EQ(stat_error(mount / "file"), 0);
        return Clock::now() - start;
    };
    EXPECT_GE(timed_stat(), 50ms);
    mount.set_delay(150ms);
    EXPECT_GE(timed_stat(), 150ms);
}

TEST(TestFs, NoMountOutlivesTheTestProcessOrTheFileSystemProcess) {
    KESTRANE_SKIP_WITHOUT_TESTFS();
    ScratchFolder disk;
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    pid_t test_process = ::fork();
    if (test_process == 0) {  // a test that dies with its mount up
        try {
            TestFs mount(disk.path);
            std::string where = mount.path().string() + "\n";
            (void)::write(ends[1], where.data(), where.size());
            ::raise(SIGKILL);  // the mount still up
        } catch (...) {
        }
        ::_exit(1);
    }
    ::close(ends[1]);
    std::string where;
    for (char c; ::read(ends[0], &c, 1) == 1 && c != '\n';) where += c;
    ::close(ends[0]);
    ::waitpid(test_process, nullptr, 0);
    ASSERT_FALSE(where.empty());
    auto deadline = Clock::now() + 10s;
    while (testfs_mounted_on(where) && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(testfs_mounted_on(where)) << "still mounted after its test process died";

    TestFs abandoned(disk.path);  // a file system process killed: its mount stays, dead
    ::kill(abandoned.process(), SIGKILL);
    ::waitpid(abandoned.process(), nullptr, 0);
    EXPECT_EQ(stat_error(abandoned.path()), ENOTCONN);
    TestFs next(disk.path);
    EXPECT_FALSE(testfs_mounted_on(abandoned.path())) << "a dead mount was left for the next test";
}

}  // namespace
}  // namespace kestrane
