// Runs the built kestrane executable the way a user would, in a folder,
// with its standard output captured and no standard input.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/sample_files.h"

namespace kestrane::testing {

struct ToolRun {
    std::string output;   // everything written to standard output
    std::string errors;   // everything written to standard error
    int exit_status = -1; // -1 when it did not exit normally
    int signal = 0;       // the signal that ended it, if any
    std::uint64_t peak_memory_kib = 0;  // the largest resident size it reached, when measured
};

// Stands for a standard descriptor the tool is started without.
inline constexpr int kClosed = -2;

struct RunOptions {
    bool measure_peak_memory = false;       // fills ToolRun::peak_memory_kib
    std::string state_folder{};             // where the tool keeps its journals; "": beside the folder (below)
    std::uint64_t file_size_limit = 0;      // RLIMIT_FSIZE for the run, when not 0
    std::uint64_t address_space_limit = 0;  // RLIMIT_AS for the run, when not 0
    std::uint64_t open_files_limit = 0;     // RLIMIT_NOFILE for the run, when not 0
    int user = -1;                          // the user (and group) id to run as, when not -1 (takes root)
    // Standard input and output: a descriptor, handed over (closed here once
    // the tool has it), or kClosed; by default /dev/null and the captured
    // ToolRun::output.
    int input = -1;
    int output = -1;
    // Signals ignored when the tool starts; SIGINT, SIGTERM, SIGHUP, SIGQUIT
    // and SIGPIPE not listed start with their default action.
    std::vector<int> ignored_signals{};
    // When not empty, the path of a terminal the tool runs in the background
    // of, as a shell's job started with '&', with it as standard input. A
    // tool ended or stopped by a signal there exits with 128 + the signal.
    std::string background_terminal{};
    // Called with the tool's process id once it is started, before it is
    // waited for.
    std::function<void(int)> while_running{};
};

// The executable under test: $KESTRANE_EXE, else the one this build made.
std::string tool_path();

// The tool keeps its journals in a state folder: for a run in a scratch
// folder, the folder beside it of the same name ending in ".state" (made
// here, removed with the scratch folder), shared by the runs in that folder
// alone. keep_state_in sets it for the process about to start the tool
// ($XDG_STATE_HOME, which the Windows tool reads too).
std::string state_folder_of(const std::filesystem::path& folder);
void keep_state_in(const std::string& state);

ToolRun run_tool(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                 const RunOptions& options = {});

// Runs the tool and expects it to end normally with the exit status and
// nothing on standard error.
ToolRun run_in(const ScratchFolder& folder, const std::vector<std::string>& arguments, int status);

// Everything read from the descriptor until its end.
std::string read_to_end(int descriptor);

// A JSON Lines report as python3's JSON parser reads it, once
// support/json_lines_records.py has checked its form (a quiet one, -q, as
// such): each object as its fields' texts, in order. An output: "output",
// output, input ("" for null), outcome, message; a message: "message",
// message; an unused input: "unused_input", input; the summary: "summary",
// exit status, "true" or "false" (dry run).
using JsonRecord = std::vector<std::string>;
std::vector<JsonRecord> json_records(const std::string& report, bool quiet = false);

// What stays on a terminal's screen of what was written to it: a carriage
// return takes the cursor back to the start of its line, where what follows
// overwrites it, and the sequence ESC [ K blanks the line from the cursor on
// (every other ESC [ sequence is left out: it moves nothing here); blanks at
// the end of a line show as nothing.
std::string screen_of(const std::string& written);

// One heading and its outcome line, as the report prints them.
std::string entry(const std::string& output_path, const std::string& outcome);

// Files for which a many-to-many run ('*.ape' '*.mp3') meets every outcome
// that needs no special file: update.mp3 is updated, append.mp3 appended,
// insync.mp3 already holds its input's tag, bare.ape has no tag, alone.mp3
// has no input, twice.mp3 two, and protected.mp3 is there to be write
// protected by the caller.
void write_every_outcome_samples(const ScratchFolder& folder);

// Sets every file and folder in the folder, and below it, a modification
// time long past, so that a write shows in it.
void age_files(const ScratchFolder& folder);
std::map<std::string, std::filesystem::file_time_type> modification_times(const ScratchFolder& folder);

// A real run's report as a dry run words it: "would update tag from" and
// "would append tag from" for the lines that say a tag was placed.
std::string as_dry_run(std::string report);

// The banner every run prints first, and the usage text printed after a bad
// command line.
extern const std::string kBannerText;
extern const std::string kUsageText;

}  // namespace kestrane::testing
