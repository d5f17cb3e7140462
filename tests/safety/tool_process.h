// Runs the built kestrane executable as a separate process whose standard
// output is a pipe, so a test can act while it runs and can stop it when it
// hangs instead of hanging with it.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrane::testing {

struct ToolProcess {
    int pid = -1;
    int report = -1;  // read end of the pipe that is the tool's standard output
};

// Starts the tool in folder with no standard input. A pipe_capacity other
// than 0 shrinks the report pipe, so the tool stops after printing that much
// until the test reads it.
ToolProcess start_tool(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                       int pipe_capacity = 0);

// Waits until the tool's report fills the pipe (the tool then can't go on
// printing) or the tool ends; false when neither happens within the time.
bool wait_until_report_fills_pipe(const ToolProcess& tool, int pipe_capacity, std::chrono::milliseconds timeout);

struct FinishedTool {
    std::string output;
    bool hung = false;  // still running at the deadline, then killed
    int exit_status = -1;
};

// Reads the rest of the report and waits for the tool to end, killing it if
// it is still running after timeout.
FinishedTool finish_tool(ToolProcess& tool, std::chrono::milliseconds timeout);

}  // namespace kestrane::testing
