// Files that are not what the listing saw: a FIFO, a directory or a dangling
// symlink where a regular file was, files that vanish or shrink after the
// listing. The run reports each such file, never blocks, and goes on; and
// pairs in flight at once change nothing about it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sys/stat.h>

#include "platform/files.h"
#include "support/run_tool.h"
#include "support/sample_files.h"
#include "tool_process.h"

namespace kestrane {
namespace {

using namespace kestrane::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

void make_fifo(const fs::path& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0) << path; }

// A FIFO with no peer would block a plain open for ever; the open functions
// must refuse it (and every other non-regular file) at once.
TEST(SpecialFiles, OpenFunctionsRefuseWhatIsNotARegularFile) {
    ScratchFolder folder;
    make_fifo(folder / "fifo");
    fs::create_directory(folder / "directory");
    fs::create_symlink("nowhere", folder / "dangling");
    fs::create_symlink("loop", folder / "loop");
    fs::create_symlink("fifo", folder / "link-to-fifo");
    for (const char* name : {"fifo", "directory", "dangling", "loop", "link-to-fifo", "missing"}) {
        platform::OpenFile file;
        EXPECT_FALSE(platform::open_input_file((folder / name).string(), file)) << name;
        EXPECT_EQ(file.handle, -1) << name;
        EXPECT_FALSE(platform::open_output_file((folder / name).string(), file)) << name;
        EXPECT_EQ(file.handle, -1) << name;
    }
    platform::OpenFile device;
    EXPECT_FALSE(platform::open_input_file("/dev/null", device));
    EXPECT_FALSE(platform::open_output_file("/dev/null", device));
}

// Long names make each report entry long, so the tool, whose report goes to
// a small pipe the test does not read yet, stops within its first few dozen
// outputs. Everything listed after that point can be swapped before the
// tool reaches it, which makes the race deterministic.
std::string pair_name(int index) {
    char number[8];
    std::snprintf(number, sizeof number, "%03d", index);
    return std::string("track-") + number + "-of-a-rather-long-album-name-for-the-report";
}

TEST(SpecialFiles, FilesSwappedAfterTheListingAreReportedAndTheRunGoesOn) {
    // Far beyond what a full pipe lets the tool reach, and beyond what pairs
    // in flight look at before the report moves on.
    constexpr int kPairs = 400;
    constexpr int kFirstSwapped = 330;
    constexpr int kPipeCapacity = 4096;
    ScratchFolder folder;
    const Bytes sound = audio(1500, 4);
    const Bytes old_id3 = id3v1_tag("Old");
    auto input_tag = [](int i) { return ape_tag({.item_bytes = 50, .fill = static_cast<std::uint8_t>(i)}); };
    auto input = [&](int i) { return folder / (pair_name(i) + ".ape"); };
    auto output = [&](int i) { return folder / (pair_name(i) + ".mp3"); };
    for (int i = 0; i < kPairs; ++i) {
        write_file(input(i), sound + input_tag(i));
        write_file(output(i), i == kFirstSwapped + 5 ? sound + old_id3 : sound);
    }

    ToolProcess tool = start_tool(folder.path, {"*.ape", "*.mp3"}, kPipeCapacity);
    ASSERT_TRUE(wait_until_report_fills_pipe(tool, kPipeCapacity, 20s));
    const int k = kFirstSwapped;
    fs::remove(output(k));                              // vanished
    fs::remove(output(k + 1));                          // a FIFO now
    make_fifo(output(k + 1));
    fs::remove(output(k + 2));                          // a directory now
    fs::create_directory(output(k + 2));
    fs::remove(output(k + 3));                          // a dangling symlink now
    fs::create_symlink("gone.mp3", output(k + 3));
    fs::resize_file(output(k + 4), 0);                  // shrunk to nothing
    fs::resize_file(output(k + 5), sound.size() + 100);  // shrunk into its tag
    fs::remove(input(k + 6));                           // input vanished
    fs::resize_file(input(k + 7), sound.size() + 40);   // input shrunk into its tag
    fs::remove(input(k + 8));                           // input is a FIFO now
    make_fifo(input(k + 8));
    FinishedTool finished = finish_tool(tool, 20s);
    ASSERT_FALSE(finished.hung) << "the run blocked";
    EXPECT_EQ(finished.exit_status, 1);

    const std::string refused = "can't open output file, may be write protected!\n";
    std::string expected = kBannerText;
    for (int i = 0; i < kPairs; ++i) {
        std::string in_name = pair_name(i) + ".ape", out_name = pair_name(i) + ".mp3";
        std::string outcome = "appended tag from " + in_name + "\n";
        if (i >= k && i <= k + 3) outcome = refused;
        if (i == k + 6 || i == k + 8) outcome = "can't open input file " + in_name + "!\n";
        if (i == k + 7) outcome = "file " + in_name + " does not have valid tag!\n";
        expected += entry(out_name, outcome);
    }
    EXPECT_EQ(finished.output, expected);

    for (int i = 0; i < kPairs; ++i) {
        if (i >= k && i <= k + 3) continue;
        Bytes contents = read_file(output(i));
        if (i == k + 4) {
            EXPECT_EQ(contents, input_tag(i));
        } else if (i == k + 5) {
            EXPECT_EQ(contents, sound + Bytes(old_id3.begin(), old_id3.begin() + 100) + input_tag(i));
        } else if (i >= k + 6 && i <= k + 8) {
            EXPECT_EQ(contents, sound) << i;
        } else {
            EXPECT_EQ(contents, sound + input_tag(i)) << i;
        }
    }
    EXPECT_FALSE(fs::exists(output(k)));
    EXPECT_TRUE(fs::is_fifo(output(k + 1)));
    EXPECT_TRUE(fs::is_directory(output(k + 2)));
    EXPECT_TRUE(fs::is_symlink(output(k + 3)) && !fs::exists(output(k + 3)));
}

// Over folder trees, a folder of the output tree swapped for a link to
// another album, or replaced by another album moved into its place, after
// the listing (while the run waits for its report to be read) never takes a
// write meant for it: each of its outputs can't be opened, the files the
// path leads to now keep what their own pairs wrote, and those of the
// folder moved away stay as they were; one pair at a time and with pairs in
// flight.
TEST(SpecialFiles, AFolderSwappedAfterTheListingNeverTakesItsWrites) {
    // Far beyond what a full pipe lets the tool reach, and beyond what pairs
    // in flight look at before the report moves on.
    constexpr int kAlbums = 300, kLinked = 250, kReplaced = 260, kLinkTarget = 10, kMovedIn = 11;
    constexpr int kPipeCapacity = 4096;
    const Bytes sound = audio(1200, 6);
    auto album = [](int i) {
        char name[8];
        std::snprintf(name, sizeof name, "a%04d", i);
        return std::string(name);
    };
    auto tag = [](int i, int track) { return ape_tag({.item_bytes = 40, .fill = static_cast<std::uint8_t>(2 * i + track)}); };
    for (const char* jobs : {"1", "8"}) {
        ScratchFolder folder;
        for (int i = 0; i < kAlbums; ++i) {
            for (int track = 0; track < 2; ++track) {
                std::string name = album(i) + "/0" + std::to_string(track);
                fs::create_directories(folder / "lossless" / album(i));
                fs::create_directories(folder / "lossy" / album(i));
                write_file(folder / "lossless" / (name + ".ape"), sound + tag(i, track));
                write_file(folder / "lossy" / (name + ".mp3"), sound);
            }
        }
        ::setenv("KESTRANE_JOBS", jobs, 1);
        ToolProcess tool = start_tool(folder.path, {"-r", "lossless/*.ape", "lossy/*.mp3"}, kPipeCapacity);
        ::unsetenv("KESTRANE_JOBS");
        ASSERT_TRUE(wait_until_report_fills_pipe(tool, kPipeCapacity, 20s));
        fs::create_directory(folder / "elsewhere");
        fs::rename(folder / "lossy" / album(kLinked), folder / "elsewhere" / album(kLinked));
        fs::create_directory_symlink(album(kLinkTarget), folder / "lossy" / album(kLinked));
        fs::rename(folder / "lossy" / album(kReplaced), folder / "elsewhere" / album(kReplaced));
        fs::rename(folder / "lossy" / album(kMovedIn), folder / "lossy" / album(kReplaced));
        FinishedTool finished = finish_tool(tool, 20s);
        ASSERT_FALSE(finished.hung) << "the run blocked";
        EXPECT_EQ(finished.exit_status, 1);

        std::string expected = kBannerText;
        for (int i = 0; i < kAlbums; ++i) {
            for (int track = 0; track < 2; ++track) {
                std::string name = album(i) + "/0" + std::to_string(track);
                bool swapped = i == kLinked || i == kReplaced;
                expected += entry("lossy/" + name + ".mp3", swapped ? "can't open output file, may be write protected!\n"
                                                                    : "appended tag from lossless/" + name + ".ape\n");
            }
        }
        EXPECT_EQ(finished.output, expected) << "KESTRANE_JOBS=" << jobs;
        for (int track = 0; track < 2; ++track) {
            std::string name = "/0" + std::to_string(track) + ".mp3";
            EXPECT_TRUE(read_file(folder / "lossy" / (album(kLinkTarget) + name)) == sound + tag(kLinkTarget, track));
            EXPECT_TRUE(read_file(folder / "lossy" / (album(kReplaced) + name)) == sound + tag(kMovedIn, track));
            EXPECT_TRUE(read_file(folder / "elsewhere" / (album(kLinked) + name)) == sound);
            EXPECT_TRUE(read_file(folder / "elsewhere" / (album(kReplaced) + name)) == sound);
        }
    }
}

// Named directly (not through a wildcard), a FIFO, a directory or a dangling
// symlink is not listed at all.
TEST(SpecialFiles, SpecialFilesNamedDirectlyAreNotFound) {
    ScratchFolder folder;
    write_file(folder / "in.ape", audio(500) + id3v1_tag("In"));
    make_fifo(folder / "fifo.mp3");
    fs::create_directory(folder / "dir.mp3");
    fs::create_symlink("nowhere", folder / "dangling.mp3");
    for (const char* name : {"fifo.mp3", "dir.mp3", "dangling.mp3"}) {
        ToolProcess tool = start_tool(folder.path, {"in.ape", name});
        FinishedTool finished = finish_tool(tool, 20s);
        ASSERT_FALSE(finished.hung) << name;
        EXPECT_EQ(finished.output, kBannerText + std::string("file ") + name + " not found!\n");
        ToolProcess as_input = start_tool(folder.path, {name, "in.ape"});
        finished = finish_tool(as_input, 20s);
        ASSERT_FALSE(finished.hung) << name;
        EXPECT_EQ(finished.output, kBannerText + std::string("file ") + name + " not found!\n");
    }
}

// Runs over one folder of tricky pairs, with at most `jobs` pairs in
// flight: many to many with an output that is a hard link of its input,
// sixty outputs that are one file (hard links, then symbolic links), while
// files far ahead (beyond what workers look at before the report moves on)
// are removed or swapped for FIFOs; then one input for every output, the
// input being one of them; then a tag too big for the file-size limit on
// some outputs, whose writes fail and are undone. Returns the reports and
// the files.
struct TrickyRuns {
    std::string reports;
    std::map<std::string, Bytes> files;
};

TrickyRuns run_tricky_folder(const char* jobs) {
    constexpr int kPairs = 700;
    constexpr int kSwapped = 600;
    constexpr int kPipeCapacity = 4096;
    ::setenv("KESTRANE_JOBS", jobs, 1);
    ScratchFolder folder;
    auto input = [&](int i) { return folder / (pair_name(i) + ".ape"); };
    auto output = [&](int i) { return folder / (pair_name(i) + ".mp3"); };
    for (int i = 0; i < kPairs; ++i) {
        write_file(input(i), audio(700, 5) + ape_tag({.item_bytes = 60, .fill = static_cast<std::uint8_t>(i)}));
        write_file(output(i), audio(i % 3 ? 900 : 5000, 6) + (i % 2 ? id3v1_tag("Old") : Bytes{}));
    }
    fs::remove(output(5));
    fs::create_hard_link(input(5), output(5));
    for (int i = 11; i < 70; ++i) {  // sixty outputs, one file
        fs::remove(output(i));
        if (i < 60) {
            fs::create_hard_link(output(10), output(i));
        } else {
            fs::create_symlink(output(10).filename(), output(i));
        }
    }

    TrickyRuns runs;
    ToolProcess tool = start_tool(folder.path, {"*.ape", "*.mp3"}, kPipeCapacity);
    EXPECT_TRUE(wait_until_report_fills_pipe(tool, kPipeCapacity, 20s));
    for (int i = kSwapped; i < kSwapped + 40; ++i) {
        fs::path swapped = i % 4 < 2 ? output(i) : input(i);
        fs::remove(swapped);
        if (i % 2) make_fifo(swapped);
    }
    FinishedTool finished = finish_tool(tool, 60s);
    EXPECT_FALSE(finished.hung);
    runs.reports = finished.output;
    runs.reports += run_in(folder, {pair_name(0) + ".mp3", "*.mp3"}, 1).output;
    write_file(folder / "big.ape", audio(100, 7) + ape_tag({.item_bytes = 3000, .fill = 'B'}));
    runs.reports += run_tool(folder.path, {"big.ape", "*.mp3"}, RunOptions{.file_size_limit = 4500}).output;
    runs.files = snapshot(folder.path);
    ::unsetenv("KESTRANE_JOBS");
    return runs;
}

TEST(Workers, EightPairsInFlightChangeNoReportAndNoFile) {
    TrickyRuns eight = run_tricky_folder("8");
    TrickyRuns one = run_tricky_folder("1");
    EXPECT_EQ(eight.reports, one.reports);
    EXPECT_TRUE(eight.files == one.files);
    // the folder really is tricky
    for (const char* outcome : {"can't open output file", "can't open input file", "updated tag from",
                                "tag already up to date from", "error updating tag!"}) {
        EXPECT_NE(one.reports.find(outcome), std::string::npos) << outcome;
    }
}

}  // namespace
}  // namespace kestrane
