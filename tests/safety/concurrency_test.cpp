// Two runs at once over the same files: the locks keep them from
// interleaving, so every output ends up with its input's tag exactly once.
// A file closed is free at once for the next open. And within one run,
// pairs really are in flight at once.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <poll.h>
#include <sys/fanotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/files.h"
#include "support/sample_files.h"
#include "tool_process.h"

namespace kestrane {
namespace {

using namespace kestrane::testing;
using namespace std::chrono_literals;

std::string pair_name(int index) {
    char name[16];
    std::snprintf(name, sizeof name, "c%04d", index);
    return name;
}

Bytes input_tag(int i) {
    if (i % 3 == 0) return id3v1_tag("Tag " + pair_name(i));
    return ape_tag({.item_bytes = static_cast<std::size_t>(1 + i % 700), .fill = static_cast<std::uint8_t>(i)});
}

// An output's state before the runs: no tag, an ID3v1 tag or an APEv2 tag.
Bytes old_tag(int i) {
    switch (i % 4) {
        case 1: return id3v1_tag("Old");
        case 2: return ape_tag({.item_bytes = 900, .fill = 'o'});
        default: return {};
    }
}

// Checks that a run reported every output once, with one of the outcomes a
// run can have when another holds the same files; returns how often a file
// was held by the other run. Such a run fails, and says so in its status.
int check_report(const FinishedTool& run, int pairs) {
    int held_count = 0;
    std::size_t at = run.output.find("\nc0000.mp3:\n");
    if (at == std::string::npos) {
        ADD_FAILURE() << "no report: " << run.output;
        return 0;
    }
    for (int i = 0; i < pairs; ++i) {
        std::string in = pair_name(i) + ".ape";
        std::string heading = "\n" + pair_name(i) + ".mp3:\n";
        if (run.output.compare(at, heading.size(), heading) != 0) {
            ADD_FAILURE() << "no entry for output " << i;
            return held_count;
        }
        at += heading.size();
        std::size_t end = run.output.find('\n', at) + 1;
        std::string outcome = run.output.substr(at, end - at);
        bool done = outcome == "appended tag from " + in + "\n" || outcome == "updated tag from " + in + "\n" ||
                    outcome == "tag already up to date from " + in + "\n";
        bool held = outcome == "can't open input file " + in + "!\n" ||
                    outcome == "can't open output file, may be write protected!\n";
        EXPECT_TRUE(done || held) << outcome;
        held_count += held;
        at = end;
    }
    EXPECT_EQ(at, run.output.size());
    EXPECT_EQ(run.exit_status, held_count > 0 ? 1 : 0);
    return held_count;
}

TEST(Concurrency, TwoRunsOverTheSameThousandPairsEachOutputGetsItsTagOnce) {
    constexpr int kPairs = 1000;
    ScratchFolder folder;
    std::vector<Bytes> sounds;
    for (int i = 0; i < kPairs; ++i) {
        sounds.push_back(audio(1000 + static_cast<std::size_t>(i % 97), static_cast<std::uint8_t>(i)));
        write_file(folder / (pair_name(i) + ".ape"), audio(800) + input_tag(i));
        write_file(folder / (pair_name(i) + ".mp3"), sounds[i] + old_tag(i));
    }

    // Three rounds: the first appends and updates, the later ones update
    // tags that are already right; in each the runs race for the same files.
    int collisions = 0;
    for (int round = 0; round < 3; ++round) {
        ToolProcess first = start_tool(folder.path, {"*.ape", "*.mp3"});
        ToolProcess second = start_tool(folder.path, {"*.ape", "*.mp3"});
        FinishedTool first_done = finish_tool(first, 120s);
        FinishedTool second_done = finish_tool(second, 120s);
        ASSERT_FALSE(first_done.hung) << "the first run hung";
        ASSERT_FALSE(second_done.hung) << "the second run hung";
        collisions += check_report(first_done, kPairs) + check_report(second_done, kPairs);
    }
    std::cout << "[ info ] files held by the other run: " << collisions << " times in 3 rounds\n";

    for (int i = 0; i < kPairs; ++i) {
        EXPECT_EQ(read_file(folder / (pair_name(i) + ".mp3")), sounds[i] + input_tag(i)) << pair_name(i);
        EXPECT_EQ(read_file(folder / (pair_name(i) + ".ape")), audio(800) + input_tag(i)) << pair_name(i);
    }
}

// Another process may hold a reference to a file the run has open for a
// moment (whatever reads /proc/PID/fd or fdinfo does); here a child that
// inherited the descriptor keeps it until told to go. The file is free for
// the next open as soon as the run closes it all the same.
TEST(Concurrency, AClosedFileIsFreeAtOnceThoughAnotherProcessStillRefersToIt) {
    ScratchFolder folder;
    write_file(folder / "f.mp3", kAudio + kOldId3);
    std::string path = (folder / "f.mp3").string();
    platform::OpenFile file;
    ASSERT_TRUE(platform::open_input_file(path, file));
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char ignored;
        ::close(go[1]);
        (void)!::read(go[0], &ignored, 1);  // returns once the test closes its end
        ::_exit(0);
    }
    platform::close_file(file);
    EXPECT_TRUE(platform::open_output_file(path, file));
    platform::close_file(file);
    ::close(go[1]);
    EXPECT_EQ(::waitpid(child, nullptr, 0), child);
    ::close(go[0]);
}

// Runs the tool over the folder with each open of a file in it held until
// the opens stop coming for a while (fanotify permission events, which take
// root): the most opens held at once is the most pairs in flight. -1 when
// the system can't hold opens. A null jobs leaves KESTRANE_JOBS unset.
int most_opens_at_once(const ScratchFolder& folder, const char* jobs) {
    int watch = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK, O_RDONLY | O_CLOEXEC);
    if (watch < 0) return -1;
    if (::fanotify_mark(watch, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD, folder.path.c_str()) != 0) {
        ::close(watch);
        return -1;
    }
    if (jobs != nullptr) ::setenv("KESTRANE_JOBS", jobs, 1);
    ToolProcess tool = start_tool(folder.path, {"*.ape", "*.mp3"});
    ::unsetenv("KESTRANE_JOBS");
    std::vector<int> held;
    std::size_t most = 0;
    for (bool ended = false; !ended || !held.empty();) {
        pollfd ready{watch, POLLIN, 0};
        if (::poll(&ready, 1, 30) > 0) {  // an open came: take it, and wait for more
            alignas(fanotify_event_metadata) char events[4096];
            ssize_t got = ::read(watch, events, sizeof events);
            auto* event = reinterpret_cast<fanotify_event_metadata*>(events);
            for (; got > 0 && FAN_EVENT_OK(event, got); event = FAN_EVENT_NEXT(event, got)) held.push_back(event->fd);
            continue;
        }
        most = std::max(most, held.size());  // quiet for 30 ms: everything in flight waits for us
        for (int fd : held) {
            fanotify_response allow{fd, FAN_ALLOW};
            EXPECT_EQ(::write(watch, &allow, sizeof allow), static_cast<ssize_t>(sizeof allow));
            ::close(fd);
        }
        held.clear();
        int status = 0;
        ended = ::waitpid(tool.pid, &status, WNOHANG) == tool.pid;
    }
    ::close(watch);
    ::close(tool.report);
    return static_cast<int>(most);
}

// One at a time with KESTRANE_JOBS=1; with 8, pairs in flight from the
// start; unset, once pairs turn out slow (each open held here is).
TEST(Concurrency, PairsAreInFlightAtOnce) {
    ScratchFolder folder;
    for (int i = 0; i < 24; ++i) {
        write_file(folder / (pair_name(i) + ".ape"), audio(800) + input_tag(i));
        write_file(folder / (pair_name(i) + ".mp3"), audio(900));
    }
    int alone = most_opens_at_once(folder, "1");
    if (alone < 0) GTEST_SKIP() << "SKIPPED: fanotify can't hold opens here (it takes root)";
    EXPECT_EQ(alone, 1);
    EXPECT_GE(most_opens_at_once(folder, "8"), 4);
    EXPECT_GE(most_opens_at_once(folder, nullptr), 4);
    EXPECT_EQ(read_file(folder / (pair_name(23) + ".mp3")), audio(900) + input_tag(23));
}

}  // namespace
}  // namespace kestrane
