// Reading the options and the two file specifications.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tags/transfer_mode.h"

namespace kestrane {

// A complaint about the command line, printed in the order it was met.
struct CommandLineNote {
    enum class Kind { illegal_option, too_many_specifications };
    Kind kind;
    std::string text;  // the option: a letter, a character outside ASCII, or an unknown "--" word
};

// What the command line asks for besides a run.
enum class Request { run, help, version };

// What a run does: copy tags; take the last run back (--undo); or only
// finish what runs that did not finish left (--recover), which every run
// does first.
enum class Task { copy, undo, recover };

struct CommandLine {
    Request request = Request::run;
    TransferOptions options;
    bool folder_trees = false;  // -r
    bool quiet = false;         // -q: only the outputs changed or not done, then the totals
    bool json_lines = false;    // --json
    Task task = Task::copy;
    bool durable = false;       // --sync: every change on the disk before the run goes on
    std::string input_specification;
    std::string output_specification;
    int file_specification_count = 0;
    std::vector<CommandLineNote> notes;
    bool bad = false;  // an illegal option or too many specifications
};

// Reads the arguments after the program's name. An argument that is exactly
// "--help" (or, where '/' starts options, "/?") or "--version" asks for that
// alone, whatever else stands there, unless it follows an argument "--":
// every argument after that one is a file specification. Before it, an
// argument that is exactly "--json" asks for the report in JSON Lines.
CommandLine read_command_line(std::span<const std::string_view> arguments);

// Whether the run goes on to files: nothing bad, and two specifications
// for a copy, none for --undo and --recover.
bool is_runnable(const CommandLine& command_line);

}  // namespace kestrane
