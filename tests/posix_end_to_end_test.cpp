// The POSIX tool end to end where it differs from the Windows one: listing
// in byte order, symbolic links and FIFOs, names that differ only in case,
// write permission bits, a memory limit; and the platform profile the shared
// cases (end_to_end_test.cpp) run with.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <regex>

#include "support/end_to_end_case.h"
#include "support/run_tool.h"
#include "support/sample_files.h"

namespace kestrane {
namespace fs = std::filesystem;

namespace testing {

const PlatformProfile kPlatform = {
    .line_end = "\n",
    .separators = "/",
    .option = '-',
    .absolute = [](const fs::path& folder) { return folder.string(); },
    .write_protect =
        [](const ScratchFolder& folder, const std::vector<std::string>& names) {
            for (const std::string& name : names) {
                fs::permissions(folder / name, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
            }
        },
    .hide = [](const ScratchFolder&, const std::string& name) { ASSERT_TRUE(fs::path(name).filename().string().starts_with('.')) << name; },
    .another_name = [](const fs::path& file, const fs::path& name) { fs::create_symlink(file.filename(), name); },
    .hold =
        [](const fs::path& file) {
            int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            return ::flock(descriptor, LOCK_EX) == 0 ? descriptor : -1;
        },
};

}  // namespace testing

namespace {

using namespace kestrane::testing;

const std::size_t kMaxItemBytes = 0x10000000 - 1 - 32;  // the largest tag the tool accepts

// In byte order; a name is bytes, UTF-8 or not. A symbolic link to a regular
// file counts (here it is the input itself), a dangling one does not, and no
// short alias lists "x.mp3x" as "*.mp3".
TEST(Listing, InByteOrderThroughSymbolicLinksToFiles) {
    const std::string appended = "appended tag from in.ape\n", refused = "can't open output file, may be write protected!\n";
    check({.files = {{"in.ape", kAudio + kId3Tag}, {"a b.mp3", kAudio}, {"Song [Live].mp3", kAudio},
                     {"caf\xc3\xa9.mp3", kAudio}, {"x.mp3x", kAudio}},
           .runs = {{{"in.ape", "*.mp3"},
                     entry("Song [Live].mp3", appended) + entry("a b.mp3", appended) + entry("caf\xc3\xa9.mp3", appended) +
                         entry("link.mp3", refused),
                     1, {{"Song [Live].mp3", kAudio + kId3Tag}, {"a b.mp3", kAudio + kId3Tag},
                      {"caf\xc3\xa9.mp3", kAudio + kId3Tag}}},
                    {{"in.ape", "link.mp3"}, entry("link.mp3", refused), 1}},
           .prepare =
               [](const ScratchFolder& folder) {
                   fs::create_symlink("in.ape", folder / "link.mp3");
                   fs::create_symlink("nowhere", folder / "dangling.mp3");
               }});
}

// Names differing only in case can coexist here: a plain name means the
// entry of exactly that name, and a file of another case only when there is
// no such entry. An entry of that name that is no regular file (a dangling
// link, a folder, a FIFO) is not found; its case variants are never taken.
TEST(Listing, APlainNameIsTheFileOfExactlyThatNameWhenThereIsOne) {
    Files files = {{"in.ape", kAudio + kApeTag}, {"IN.APE", kAudio + kId3Tag}, {"d.mp3/", {}}};
    for (const char* name : {"a.mp3", "A.MP3", "B.MP3", "C.MP3", "D.MP3", "E.MP3", "F.APE"}) files[name] = kAudio;
    check({.files = files,
           .runs = {{{"in.ape", "a.mp3"}, entry("a.mp3", "appended tag from in.ape\n"), 0, {{"a.mp3", kAudio + kApeTag}}},
                    {{"IN.APE", "b.mp3"}, entry("B.MP3", "appended tag from IN.APE\n"), 0, {{"B.MP3", kAudio + kId3Tag}}},
                    {{"in.ape", "c.mp3"}, "file c.mp3 not found!\n", 1},
                    {{"in.ape", "d.mp3"}, "file d.mp3 not found!\n", 1},
                    {{"in.ape", "e.mp3"}, "file e.mp3 not found!\n", 1},
                    {{"f.ape", "a.mp3"}, "file f.ape not found!\n", 1}},
           .prepare =
               [](const ScratchFolder& folder) {
                   fs::create_symlink("nowhere", folder / "c.mp3");
                   ASSERT_EQ(::mkfifo((folder / "e.mp3").c_str(), 0644), 0);
                   fs::create_symlink("nowhere", folder / "f.ape");
               }});
}

// Any one write bit is enough: root writes a file only its group may write.
TEST(Copy, RootWritesAFileOnlyItsGroupMayWrite) {
    const bool root = ::geteuid() == 0;
    check({.files = {{"in.ape", kAudio + kApeTag}, {"group.mp3", kAudio}},
           .runs = {{{"in.ape", "group.mp3"},
                     entry("group.mp3", root ? "appended tag from in.ape\n"
                                             : "can't open output file, may be write protected!\n"),
                     root ? 0 : 1, root ? Files{{"group.mp3", kAudio + kApeTag}} : Files{}}},
           .prepare =
               [](const ScratchFolder& folder) {
                   fs::permissions(folder / "group.mp3", fs::perms::owner_read | fs::perms::group_read |
                                                             fs::perms::group_write | fs::perms::others_read);
               }});
}

// In JSON Lines a name that is not UTF-8 comes back from its base64 byte
// for byte, and one with control characters, quotes or backslashes is a
// string with them escaped.
TEST(JsonLines, NamesThatAreNotUtf8ComeBackAsTheirBytes) {
    const std::string latin1 = "caf\xe9", quoted = "say \"hi\" \\ to\r\nall", control = "tab\there\x01";
    ScratchFolder folder;
    for (const std::string& name : {latin1, quoted, control}) {
        write_file(folder / (name + ".ape"), kAudio + kApeTag);
        write_file(folder / (name + ".mp3"), kAudio);
    }
    ToolRun run = run_in(folder, {"--json", "*.ape", "*.mp3"}, 0);
    EXPECT_EQ(json_records(run.output),
              (std::vector<JsonRecord>{
                  {"output", latin1 + ".mp3", latin1 + ".ape", "appended", "appended tag from " + latin1 + ".ape"},
                  {"output", quoted + ".mp3", quoted + ".ape", "appended", "appended tag from " + quoted + ".ape"},
                  {"output", control + ".mp3", control + ".ape", "appended", "appended tag from " + control + ".ape"},
                  {"summary", "0", "false"}}));
}

// An option character outside ASCII is told whole: UTF-8 as typed in a
// UTF-8 locale, or a byte that starts no UTF-8 sequence alone (as do the
// three bytes of a UTF-16 surrogate, which POSIX names never carry as a
// character).
TEST(CommandLine, AnOptionOutsideAsciiIsToldWhole) {
    check({.files = {{"a.ape", kAudio + kApeTag}, {"a.mp3", kAudio}},
           .runs = {{{"-\xC3\xA9x", "a.ape", "a.mp3"}, "illegal option: \xC3\xA9 !\n\nillegal option: x !\n\n" + kUsageText, 2},
                    {{"-\xE9", "a.ape", "a.mp3"}, "illegal option: \xE9 !\n\n" + kUsageText, 2},
                    // a surrogate's three bytes are no UTF-8 here
                    {{"-\xED\xA0\x80", "a.ape", "a.mp3"},
                     "illegal option: \xED !\n\nillegal option: \xA0 !\n\nillegal option: \x80 !\n\n" + kUsageText, 2}}});
}

// --undo never overwrites what happened to an output after the run: an
// output edited since is left as it is, one removed is said to be gone,
// and either makes the exit status 1; the others are put back.
TEST(Undo, LeavesAloneWhatChangedSinceTheRun) {
    ScratchFolder folder;
    for (const char* name : {"a", "b", "c"}) {
        write_file(folder / (std::string(name) + ".ape"), kAudio + kApeTag);
        write_file(folder / (std::string(name) + ".mp3"), kAudio + kOldId3);
    }
    run_in(folder, {"*.ape", "*.mp3"}, 0);
    const Bytes edited = kAudio + kApeTag + bytes_of("edited");
    write_file(folder / "a.mp3", edited);
    fs::remove(folder / "b.mp3");
    const std::string at = folder.path.string() + "/";
    // As JSON Lines, in a dry run first: the same outcomes, as objects.
    std::vector<JsonRecord> records = json_records(run_in(folder, {"--json", "-n", "--undo"}, 1).output);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[1], (JsonRecord{"output", at + "c.mp3", "", "would_undo", "would put back as it was before the run"}));
    EXPECT_EQ(records[2][3], "gone_since");
    EXPECT_EQ(records[3][3], "changed_since");
    EXPECT_EQ(records[4], (JsonRecord{"summary", "1", "true"}));
    ToolRun run = run_in(folder, {"--undo"}, 1);
    std::string shown = std::regex_replace(run.output, std::regex("[0-9-]{10} [0-9:]{8}"), "TIME");
    EXPECT_EQ(shown, kBannerText + "undoing the run of TIME in " + folder.path.string() + ": kestrane '*.ape' '*.mp3'\n" +
                         entry(at + "c.mp3", "put back as it was before the run\n") +
                         entry(at + "b.mp3", "gone or replaced since the run, left alone!\n") +
                         entry(at + "a.mp3", "changed since the run, left as it is!\n"));
    EXPECT_EQ(read_file(folder / "a.mp3"), edited);
    EXPECT_EQ(read_file(folder / "c.mp3"), kAudio + kOldId3);
}

// An output whose two tags do not fit in memory, even with no other pair
// in flight, fails alone ("out of memory!") and the run goes on, one pair at
// a time and with pairs in flight alike: the same report, the same files,
// no write cut short. The memory limit is set just above what a run of the
// small pairs needs, so a tag of almost 256 MiB (zeros, sparse on disk)
// cannot fit.
TEST(Faults, AnOutputWhoseTagsDoNotFitInMemoryFailsAlone) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve far more address space than any limit set here";
#else
    ScratchFolder folder;
    const Bytes tag = ape_tag({.item_bytes = (1 << 20) - 64, .fill = 't'});  // the small pairs hold 1 MiB each
    auto name = [](int i) { return "p" + std::to_string(10 + i); };
    auto write_pairs = [&](const Bytes& first_tag) {
        for (int i = 0; i < 20; ++i) {
            write_file(folder / (name(i) + ".ape"), kAudio + (i == 0 ? first_tag : tag));
            write_file(folder / (name(i) + ".mp3"), kAudio + kOldId3);
        }
    };
    ::setenv("KESTRANE_JOBS", "8", 1);
    std::uint64_t limit = 0;
    for (std::uint64_t candidate = 8 << 20; candidate < 256 << 20 && limit == 0; candidate += 1 << 20) {
        write_pairs(tag);
        ToolRun run = run_tool(folder.path, {"*.ape", "*.mp3"}, {.address_space_limit = candidate});
        if (run.exit_status == 0) limit = candidate + (1 << 20);
    }
    ASSERT_NE(limit, 0u) << "no memory limit let the small pairs through";
    std::string expected = kBannerText + entry("p10.mp3", "out of memory!\n");
    for (int i = 1; i < 20; ++i) expected += entry(name(i) + ".mp3", "updated tag from " + name(i) + ".ape\n");
    for (const char* jobs : {"1", "8"}) {
        write_pairs(zero_filled_ape_tag(kMaxItemBytes));
        ::setenv("KESTRANE_JOBS", jobs, 1);
        ToolRun run = run_tool(folder.path, {"*.ape", "*.mp3"}, {.address_space_limit = limit});
        EXPECT_EQ(run.exit_status, 1) << "KESTRANE_JOBS=" << jobs;
        EXPECT_EQ(run.output, expected) << "KESTRANE_JOBS=" << jobs;
        EXPECT_TRUE(read_file(folder / "p10.mp3") == kAudio + kOldId3) << "p10.mp3 changed";
        for (int i = 1; i < 20; ++i) EXPECT_TRUE(read_file(folder / (name(i) + ".mp3")) == kAudio + tag) << name(i);
    }
    ::unsetenv("KESTRANE_JOBS");
#endif
}

// Over a tree, a link to a folder is not followed (the walk would meet its
// folder twice, or for ever), and a folder that can't be read is reported
// once where its outputs would stand, on either side. Root reads every
// folder, so as root the tool runs as another user.
TEST(FolderTrees, LinksToFoldersAreSkippedAndUnreadableFoldersReported) {
    ScratchFolder folder;
    for (const char* name : {"lossless/a/1.ape", "lossless/locked/3.ape", "lossless/shut/4.ape"}) {
        fs::create_directories((folder / name).parent_path());
        write_file(folder / name, kAudio + kApeTag);
    }
    for (const char* name : {"lossy/a/1.mp3", "lossy/locked/3.mp3", "lossy/shut/4.mp3", "lossy/z/5.mp3"}) {
        fs::create_directories((folder / name).parent_path());
        write_file(folder / name, kAudio);
    }
    fs::create_directory_symlink("a", folder / "lossy/link");
    fs::create_directory_symlink("..", folder / "lossy/z/loop");
    RunOptions as_another_user;
    if (::geteuid() == 0) {
        as_another_user.user = 65534;  // nobody
        for (const auto& item : fs::recursive_directory_iterator(folder.path)) {
            ASSERT_EQ(::lchown(item.path().c_str(), 65534, 65534), 0);
        }
        ASSERT_EQ(::chown(folder.path.c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown(state_folder_of(folder.path).c_str(), 65534, 65534), 0);  // where it keeps its journal
    }
    fs::permissions(folder / "lossless/locked", fs::perms::none);
    fs::permissions(folder / "lossy/shut", fs::perms::none);
    ToolRun run = run_tool(folder.path, {"-r", "lossless/*.ape", "lossy/*.mp3"}, as_another_user);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.output, kBannerText + entry("lossy/a/1.mp3", "appended tag from lossless/a/1.ape\n") +
                              "\ncan't read folder lossless/locked!\n" + "\ncan't read folder lossy/shut!\n" +
                              entry("lossy/z/5.mp3", "no matching input file!\n"));
    fs::permissions(folder / "lossless/locked", fs::perms::owner_all);
    fs::permissions(folder / "lossy/shut", fs::perms::owner_all);
    EXPECT_EQ(read_file(folder / "lossy/locked/3.mp3"), kAudio);
    EXPECT_EQ(read_file(folder / "lossy/shut/4.mp3"), kAudio);
}

// A folder mounted again below itself, or a second time elsewhere, is the
// same folder: the walk meets it once, whether one folder is listed at a
// time or several at once (the walk would otherwise go round for ever).
// Mounting takes root.
TEST(FolderTrees, AFolderReachedTwiceIsWalkedOnce) {
    ScratchFolder folder;
    for (const char* name : {"lossless/a/1.ape", "lossless/b/2.ape"}) {
        fs::create_directories((folder / name).parent_path());
        write_file(folder / name, kAudio + kApeTag);
    }
    for (const char* name : {"lossy/a/1.mp3", "lossy/b/2.mp3", "lossy/a/again/", "lossy/c/"}) {
        fs::create_directories((folder / name).parent_path());
        if (name[std::strlen(name) - 1] != '/') write_file(folder / name, kAudio);
    }
    struct BindMount {
        fs::path where;
        bool mounted;
        BindMount(const fs::path& what, const fs::path& on)
            : where(on), mounted(::mount(what.c_str(), on.c_str(), nullptr, MS_BIND, nullptr) == 0) {}
        ~BindMount() {
            if (mounted) ::umount2(where.c_str(), MNT_DETACH);
        }
    };
    BindMount loop(folder / "lossy", folder / "lossy/a/again");
    BindMount twice(folder / "lossy/b", folder / "lossy/c");
    if (!loop.mounted || !twice.mounted) GTEST_SKIP() << "SKIPPED: bind mounts take root";
    for (const char* jobs : {"1", "8"}) {
        ::setenv("KESTRANE_JOBS", jobs, 1);
        ToolRun run = run_in(folder, {"-nr", "lossless/*.ape", "lossy/*.mp3"}, 0);
        ::unsetenv("KESTRANE_JOBS");
        EXPECT_EQ(run.output, kBannerText + entry("lossy/a/1.mp3", "would append tag from lossless/a/1.ape\n") +
                                  entry("lossy/b/2.mp3", "would append tag from lossless/b/2.ape\n"))
            << "KESTRANE_JOBS=" << jobs;
    }
}

}  // namespace
}  // namespace kestrane
