// Runs the built kestrane executable the way a user would, in a folder,
// with its standard output captured and no standard input.
#pragma once

#include <cstdint>
#include <filesystem>
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
};

struct RunOptions {
    std::uint64_t file_size_limit = 0;      // RLIMIT_FSIZE for the run, when not 0
    std::uint64_t address_space_limit = 0;  // RLIMIT_AS for the run, when not 0
};

// The executable under test: $KESTRANE_EXE, else the one this build made.
std::string tool_path();

ToolRun run_tool(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                 const RunOptions& options = {});

// Runs the tool and expects it to end normally with status 0 and nothing
// on standard error.
ToolRun run_in(const ScratchFolder& folder, const std::vector<std::string>& arguments);

// One heading and its outcome line, as the report prints them.
std::string entry(const std::string& output_path, const std::string& outcome);

// Files for which a many-to-many run ('*.ape' '*.mp3') meets every outcome
// that needs no special file: update.mp3 is updated, append.mp3 appended,
// bare.ape has no tag, alone.mp3 has no input, twice.mp3 two, and
// protected.mp3 is there to be write protected by the caller.
void write_every_outcome_samples(const ScratchFolder& folder);

// Sets every file in the folder a modification time long past, so that a
// write shows in it.
void age_files(const ScratchFolder& folder);
std::map<std::string, std::filesystem::file_time_type> modification_times(const ScratchFolder& folder);

// A real run's report as a dry run words it: "would update tag from" and
// "would append tag from" for the lines that say a tag was placed.
std::string as_dry_run(std::string report);

// The banner every run prints first.
extern const char* const kBannerText;
// The usage text printed after a bad command line.
extern const char* const kUsageText;

}  // namespace kestrane::testing
