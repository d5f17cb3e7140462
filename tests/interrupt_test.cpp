// The interrupt key never cuts a file change short: a signal that arrives
// inside one takes effect right after it, and at once outside one.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/signals.h"

namespace kestrane {
namespace {

constexpr int kFinishedChange = 42;

// Runs body in a child process with the tool's signal set-up, the signals
// starting at their default as from an interactive shell (an ignored one
// stays ignored); returns the raw wait status.
template <typename Body>
int status_of_child(Body body) {
    pid_t child = ::fork();
    if (child == 0) {
        for (int signal_number : {SIGINT, SIGTERM}) std::signal(signal_number, SIG_DFL);
        platform::init_signals();
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

TEST(Interrupt, OutsideAFileChangeEndsTheProcessAtOnce) {
    int status = status_of_child([] {
        std::raise(SIGINT);
        ::_exit(kFinishedChange);
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGINT);
}

TEST(Interrupt, InsideAFileChangeWaitsForItsEnd) {
    for (int signal_number : {SIGINT, SIGTERM}) {
        int pipe_ends[2];
        ASSERT_EQ(::pipe(pipe_ends), 0);
        int status = status_of_child([&] {
            platform::begin_file_change();
            std::raise(signal_number);
            char done = 'x';  // still alive here: the change can finish
            (void)::write(pipe_ends[1], &done, 1);
            platform::end_file_change();
            ::_exit(kFinishedChange);
        });
        ::close(pipe_ends[1]);
        char seen = 0;
        EXPECT_EQ(::read(pipe_ends[0], &seen, 1), 1);
        ::close(pipe_ends[0]);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), signal_number);
    }
}

}  // namespace
}  // namespace kestrane
