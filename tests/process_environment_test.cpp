// How the process meets its surroundings: closed standard descriptors, a
// reader that goes away, ignored signals, a terminal it runs in the
// background of, a non-blocking pipe, a terminal. Every output still gets
// its tag, the report is complete wherever it can be read, and the status
// is 0.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/run_tool.h"
#include "support/sample_files.h"

namespace kestrane {
namespace {

using namespace kestrane::testing;
using Names = std::vector<std::string>;

// 200 pairs make a report of about 7.5 KiB: more than a small pipe holds.
constexpr int kPairs = 200;
const Names kEveryPair = {"*.ape", "*.mp3"};

std::string stem(int pair) { return "t" + std::to_string(100 + pair); }

// A folder of untagged outputs, each with an input of its name.
struct Pairs {
    ScratchFolder folder;
    Pairs() {
        for (int i = 0; i < kPairs; ++i) {
            write_file(folder / (stem(i) + ".ape"), kAudio + kApeTag);
            write_file(folder / (stem(i) + ".mp3"), kAudio);
        }
    }
    std::string report() const {
        std::string text = kBannerText;
        for (int i = 0; i < kPairs; ++i) text += entry(stem(i) + ".mp3", "appended tag from " + stem(i) + ".ape\n");
        return text;
    }
    // The outputs not as a run on a quiet terminal leaves them.
    Names untagged() const {
        Names names;
        for (int i = 0; i < kPairs; ++i) {
            if (read_file(folder / (stem(i) + ".mp3")) != kAudio + kApeTag) names.push_back(stem(i));
        }
        return names;
    }
};

// A 4 KiB pipe the tool does not inherit; the write end is handed to it.
struct SmallPipe {
    int ends[2] = {-1, -1};
    SmallPipe() {
        if (::pipe2(ends, O_CLOEXEC) != 0 || ::fcntl(ends[1], F_SETPIPE_SZ, 4096) != 4096) {
            throw std::runtime_error("cannot make a small pipe");
        }
    }
    ~SmallPipe() { ::close(ends[0]); }
};

// Waits until the process has ended (not reaped yet) or sleeps, as a writer
// waiting for room in a pipe does.
void wait_until_ended_or_asleep(int pid) {
    for (;;) {
        siginfo_t ended{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == pid) {
            return;
        }
        std::string stat;
        std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
        std::size_t state = stat.rfind(')') + 2;  // the field after the command name
        if (state < stat.size() && stat[state] == 'S') return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Waits until the process has ended (not reaped yet) or waits in a write to
// its standard output, as a writer held up by its terminal does (sleeping
// alone is not enough: a process may sleep before it writes at all).
void wait_until_ended_or_held_in_a_write(int pid) {
    for (;;) {
        siginfo_t ended{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == pid) {
            return;
        }
        long call = -1;
        std::string descriptor;
        std::ifstream("/proc/" + std::to_string(pid) + "/syscall") >> call >> descriptor;
        if (call == SYS_write && descriptor == "0x1") return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST(ProcessEnvironment, ClosedStandardDescriptorsNeverLeadTheReportIntoAnOutput) {
    Pairs pairs;
    ToolRun run = run_tool(pairs.folder.path, kEveryPair, {.input = kClosed, .output = kClosed});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(pairs.untagged(), Names{});

    // Standard input, closed, is /dev/null while the tool waits for room.
    SmallPipe report;
    std::string standard_input;
    RunOptions options{.input = kClosed, .output = report.ends[1], .while_running = [&](int tool) {
                           wait_until_ended_or_asleep(tool);
                           std::error_code ended;
                           std::string link = "/proc/" + std::to_string(tool) + "/fd/0";
                           standard_input = std::filesystem::read_symlink(link, ended).string();
                           read_to_end(report.ends[0]);
                       }};
    run_tool(pairs.folder.path, kEveryPair, options);
    EXPECT_EQ(standard_input, "/dev/null");
}

// The pipe holds less than the report: the tool writes after the reader went.
TEST(ProcessEnvironment, AReaderThatStopsEarlyEndsNeitherTheRunNorItsStatus) {
    Pairs pairs;
    SmallPipe report;
    ToolRun run = run_tool(pairs.folder.path, kEveryPair, {.output = report.ends[1], .while_running = [&](int) {
                               char first_bytes[16];  // as "| head -c 16" reads
                               EXPECT_GT(::read(report.ends[0], first_bytes, sizeof first_bytes), 0);
                               ::close(report.ends[0]);
                               report.ends[0] = -1;
                           }});
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(pairs.untagged(), Names{});
}

// The signal comes once the tool has printed, so after its set-up, and while
// the rest of its report can't fit in the pipe, so before its end.
TEST(ProcessEnvironment, AnIgnoredHangUpStaysIgnoredAndADefaultOneStillEndsTheRun) {
    for (bool ignored : {true, false}) {
        Pairs pairs;
        SmallPipe report;
        std::string output;
        ToolRun run = run_tool(pairs.folder.path, kEveryPair,
                               {.output = report.ends[1],
                                .ignored_signals = ignored ? std::vector{SIGHUP} : std::vector<int>{},
                                .while_running = [&](int tool) {
                                    char first = 0;
                                    EXPECT_EQ(::read(report.ends[0], &first, 1), 1);
                                    ::kill(tool, SIGHUP);
                                    output = first + read_to_end(report.ends[0]);
                                }});
        if (ignored) {
            EXPECT_EQ(run.exit_status, 0);
            EXPECT_EQ(output, pairs.report());
            EXPECT_EQ(pairs.untagged(), Names{});
        } else {
            EXPECT_EQ(run.signal, SIGHUP);
        }
    }
}

TEST(ProcessEnvironment, ABackgroundRunNeitherStopsNorTakesTheTerminalsInput) {
    ScratchFolder folder;
    write_file(folder / "a.ape", kAudio + kApeTag);
    write_file(folder / "a.mp3", kAudio);
    int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
    std::string terminal_name = ::ptsname(terminal);
    const std::string typed = "typed for the job in the foreground\n";
    ASSERT_EQ(::write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));

    ToolRun run = run_tool(folder.path, {"a.ape", "a.mp3"}, {.background_terminal = terminal_name});
    EXPECT_EQ(run.exit_status, 0);  // 128 + SIGTTOU when stopped
    EXPECT_EQ(run.output, kBannerText + entry("a.mp3", "appended tag from a.ape\n"));
    EXPECT_EQ(read_file(folder / "a.mp3"), kAudio + kApeTag);

    int reader = ::open(terminal_name.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    char line[64] = {};
    EXPECT_EQ(::read(reader, line, sizeof line - 1), static_cast<ssize_t>(typed.size()));
    EXPECT_EQ(line, typed);
    ::close(reader);
    ::close(terminal);
}

// A KESTRANE_JOBS that is no number from 1 to 64 is ignored, with a line
// that says so: the run goes on as with none.
TEST(ProcessEnvironment, AJobsSettingOutOfRangeIsIgnoredWithALine) {
    ScratchFolder folder;
    write_file(folder / "a.ape", kAudio + kApeTag);
    write_file(folder / "a.mp3", kAudio);
    for (const char* setting : {"-1", "0", "65", "8x", "eight"}) {
        ::setenv("KESTRANE_JOBS", setting, 1);
        ToolRun run = run_in(folder, {"-n", "a.ape", "a.mp3"}, 0);
        ::unsetenv("KESTRANE_JOBS");
        EXPECT_EQ(run.output, kBannerText + "KESTRANE_JOBS=" + setting + " ignored: not a number from 1 to 64!\n" +
                                  entry("a.mp3", "would append tag from a.ape\n"));
    }
}

// On a terminal the report ends with the totals: a dry run counts what it
// would do, and the refusals -u asks for are left alone.
TEST(ProcessEnvironment, OnATerminalTheReportEndsWithItsTotals) {
    ScratchFolder folder;
    for (const auto& [name, bytes] : {std::pair{"update.ape", kAudio + kApeTag}, {"update.mp3", kAudio + kOldId3},
                                      {"append.ape", kAudio + kId3Tag}, {"append.mp3", kAudio},
                                      {"same.ape", kAudio + kApeTag}, {"same.mp3", kAudio + kApeTag},
                                      {"alone.mp3", kAudio}}) {
        write_file(folder / name, bytes);
    }
    const std::pair<Names, std::string> runs[] = {
        {{"-n", "*.ape", "*.mp3"}, "4 outputs: 1 updated, 1 appended, 1 up to date, 1 not done"},
        {{"-u", "*.ape", "*.mp3"}, "4 outputs: 1 updated, 0 appended, 1 up to date, 1 not done, 1 left alone"}};
    for (const auto& [arguments, totals] : runs) {
        int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_TRUE(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
        ToolRun run = run_tool(folder.path, arguments, {.output = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY)});
        std::string shown = read_to_end(terminal);  // the terminal ends each line in CR LF
        ::close(terminal);
        EXPECT_EQ(run.exit_status, 1);  // alone.mp3 has no input
        EXPECT_TRUE(shown.ends_with(".ape\r\n\r\n" + totals + "\r\n")) << shown;  // after update.mp3
    }
}

// Runs the tool on a pseudo-terminal 40 columns wide that holds it up, as
// one the user stopped with Ctrl-S does: it is full when the tool starts;
// once the tool waits on it, 0.6 s later, as much as it held is read; once
// the tool waits again (its report filled it), 0.2 s later, the rest. Gives
// what the tool wrote to it.
std::string run_on_a_held_terminal(const ScratchFolder& folder, const Names& arguments) {
    int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0) throw std::runtime_error("no pty");
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 40;
    ::ioctl(terminal, TIOCSWINSZ, &size);
    std::size_t filled = 0;
    int filler = ::open(::ptsname(terminal), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    const std::string block(1024, '#');
    // To the last byte of room, also once the system has moved what it can
    // to the reader's side: the tool's first write waits.
    for (std::size_t round = 1; round > 0; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        round = 0;
        for (std::size_t piece : {block.size(), std::size_t{1}}) {
            for (ssize_t written; (written = ::write(filler, block.data(), piece)) > 0;) round += static_cast<std::size_t>(written);
        }
        filled += round;
    }
    ::close(filler);
    std::string shown;
    run_tool(folder.path, arguments, {.output = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY), .while_running = [&](int tool) {
                 for (auto pause : {std::chrono::milliseconds(600), std::chrono::milliseconds(200)}) {
                     wait_until_ended_or_held_in_a_write(tool);
                     std::this_thread::sleep_for(pause);
                     char buffer[4096];
                     for (std::size_t read = 0; read < filled;) {
                         ssize_t got = ::read(terminal, buffer, sizeof buffer);
                         if (got <= 0) break;
                         shown.append(buffer, static_cast<std::size_t>(got));
                         read += static_cast<std::size_t>(got);
                     }
                 }
                 shown += read_to_end(terminal);
             }});
    ::close(terminal);
    return shown.substr(filled);
}

// On a terminal that holds the run up past half a second, a status line
// shows below the report: while the tree is listed, then the outputs done,
// cut to the terminal's width. It is erased before each report line and at
// the end: what stays on the screen is the report a redirected run prints,
// then the totals. Redirected, or in JSON Lines, nothing of it is written.
TEST(ProcessEnvironment, ATerminalShowsAStatusLineThatLeavesOnlyTheReport) {
    ScratchFolder folder;
    for (int pair = 0; pair < 3000; ++pair) {
        std::string album = "/a" + std::to_string(pair / 100) + "/";
        std::filesystem::create_directories(folder / ("lossy" + album));
        std::filesystem::create_directories(folder / ("lossless" + album));
        write_file(folder / ("lossless" + album + stem(pair) + ".ape"), kAudio + kApeTag);
        write_file(folder / ("lossy" + album + stem(pair) + ".mp3"), kAudio);
    }
    std::filesystem::create_directories(folder / "lossless/new");
    write_file(folder / "lossless/new/x.ape", kAudio + kApeTag);
    const Names arguments = {"-rn", "lossless/*.ape", "lossy/*.mp3"};
    std::string redirected = run_in(folder, arguments, 0).output;
    ASSERT_EQ(redirected.find('\r'), std::string::npos);

    std::string shown = run_on_a_held_terminal(folder, arguments);
    EXPECT_NE(shown.find("\rlisting: "), std::string::npos);
    EXPECT_NE(shown.find(" of 3000 outputs done"), std::string::npos);
    for (std::size_t at = 0; (at = shown.find('\r', at)) != std::string::npos;) {
        std::size_t end = shown.find('\r', ++at);
        std::string drawn = shown.substr(at, end - at);
        if (drawn.find('\n') == std::string::npos) {
            EXPECT_LE(drawn.size(), 39u) << drawn;
        }
    }
    EXPECT_EQ(screen_of(shown),
              redirected + "\n3000 outputs: 0 updated, 3000 appended, 0 up to date, 0 not done, 1 input without an output\n");

    shown = run_on_a_held_terminal(folder, {"--json", "-rn", "lossless/*.ape", "lossy/*.mp3"});
    EXPECT_EQ(shown.find("listing: "), std::string::npos);
    EXPECT_EQ(shown.find("outputs done"), std::string::npos);
    SmallPipe pipe;
    std::string piped;
    run_tool(folder.path, arguments, {.output = pipe.ends[1], .while_running = [&](int tool) {
                 wait_until_ended_or_asleep(tool);
                 std::this_thread::sleep_for(std::chrono::milliseconds(600));
                 piped = read_to_end(pipe.ends[0]);
             }});
    EXPECT_EQ(piped, redirected);
}

// The pipe is read only once the tool has filled it and waits, or has ended.
TEST(ProcessEnvironment, ANonBlockingPipeGetsTheWholeReport) {
    Pairs pairs;
    SmallPipe report;
    ASSERT_EQ(::fcntl(report.ends[1], F_SETFL, O_NONBLOCK), 0);
    std::string output;
    ToolRun run = run_tool(pairs.folder.path, kEveryPair, {.output = report.ends[1], .while_running = [&](int tool) {
                               wait_until_ended_or_asleep(tool);
                               output = read_to_end(report.ends[0]);
                           }});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(output, pairs.report());
    EXPECT_EQ(pairs.untagged(), Names{});
}

}  // namespace
}  // namespace kestrane
