#include "tool_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/run_tool.h"

namespace kestrane::testing {
namespace {

using Clock = std::chrono::steady_clock;

int milliseconds_left(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

ToolProcess start_tool(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                       int pipe_capacity) {
    std::string program = tool_path();
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv{program.data()};
    for (auto& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (pipe_capacity != 0 && ::fcntl(ends[1], F_SETPIPE_SZ, pipe_capacity) < 0) {
        throw std::runtime_error("cannot shrink the pipe");
    }
    std::string state = state_folder_of(folder);
    pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        keep_state_in(state);
        int null_input = ::open("/dev/null", O_RDONLY);
        ::dup2(null_input, STDIN_FILENO);
        ::dup2(ends[1], STDOUT_FILENO);
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(ends[1]);
    return ToolProcess{child, ends[0]};
}

bool wait_until_report_fills_pipe(const ToolProcess& tool, int pipe_capacity, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        int waiting = 0;
        if (::ioctl(tool.report, FIONREAD, &waiting) == 0 && waiting >= pipe_capacity) return true;
        siginfo_t ended{};
        if (::waitid(P_PID, static_cast<id_t>(tool.pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            ended.si_pid == tool.pid) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

FinishedTool finish_tool(ToolProcess& tool, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    FinishedTool finished;
    char buffer[65536];
    for (;;) {
        pollfd ready{tool.report, POLLIN, 0};
        int left = milliseconds_left(deadline);
        if (left == 0 || ::poll(&ready, 1, left) <= 0) {
            finished.hung = true;
            break;
        }
        ssize_t got = ::read(tool.report, buffer, sizeof buffer);
        if (got <= 0) break;  // the tool closed its output: it is ending
        finished.output.append(buffer, static_cast<std::size_t>(got));
    }
    int status = 0;
    while (::waitpid(tool.pid, &status, WNOHANG) == 0) {
        if (finished.hung || Clock::now() >= deadline) {
            finished.hung = true;
            ::kill(tool.pid, SIGKILL);
            ::waitpid(tool.pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!finished.hung && WIFEXITED(status)) finished.exit_status = WEXITSTATUS(status);
    ::close(tool.report);
    tool = {};
    return finished;
}

}  // namespace kestrane::testing
