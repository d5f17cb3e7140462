// libFuzzer target for reading the command line (cli/command_line.h).
//
// The input is the argument vector, its arguments separated by NUL bytes (no
// argument holds one): "" is no argument, "\0" two empty ones. The vector
// goes straight to read_command_line, no process is started; a hang shows
// as libFuzzer's time-out. What it reads must be what the manual's rules
// make of the arguments, worked out here the plain way:
// - "--help" or "--version" (and "/?" where '/' starts options) anywhere
//   before an argument "--" asks for that alone, the first one met;
// - "--" ends the options; "--json", "--undo", "--recover" and "--sync" are
//   the long options (--undo wins over --recover), any other argument
//   starting with "--" is an illegal option, told whole;
// - any other argument starting with '-' is a group of option letters
//   a, u, n, r, q in either case (the last of a and u wins); any other
//   letter is illegal, told alone, a character outside ASCII whole (a byte
//   that starts no well-formed UTF-8 character alone);
// - every other argument is a file specification: the first is the input,
//   the second the output, a third is a complaint, once.
// And the outcome is one of those the manual lists: the version, the help
// text, the usage text with the complaints (exit status 2) or a run, which
// needs two specifications for a copy and none for --undo and --recover.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_checks.h"
#include "cli/command_line.h"
#include "fuzz/plain_utf8.h"

const char* const kTargetName = "command_line_fuzzer";

namespace {

using kestrane::CommandLine;
using kestrane::CommandLineNote;
using kestrane::Request;
using kestrane::Task;
using kestrane::TransferMode;

#if defined(_WIN32)
constexpr bool kSlashStartsOptions = true;
constexpr bool kSurrogatesInArguments = true;  // the wide command line may hold unpaired ones
#else
constexpr bool kSlashStartsOptions = false;
constexpr bool kSurrogatesInArguments = false;
#endif

struct Expected {
    Request request = Request::run;
    TransferMode mode = TransferMode::update_or_append;
    bool dry_run = false, trees = false, quiet = false, json = false, undo = false, recover = false, sync = false;
    std::vector<std::string> specifications;
    std::vector<std::pair<CommandLineNote::Kind, std::string>> notes;
};

void read_letters(std::string_view group, Expected& expected) {
    for (std::size_t at = 1; at < group.size();) {
        std::size_t length = kestrane::fuzz::well_formed_length(group, at, kSurrogatesInArguments);
        if (length == 0) length = 1;
        std::string_view character = group.substr(at, length);
        at += length;
        char c = character.size() == 1 ? character[0] : '\0';
        if (c == 'a' || c == 'A') {
            expected.mode = TransferMode::append_only;
        } else if (c == 'u' || c == 'U') {
            expected.mode = TransferMode::update_only;
        } else if (c == 'n' || c == 'N') {
            expected.dry_run = true;
        } else if (c == 'r' || c == 'R') {
            expected.trees = true;
        } else if (c == 'q' || c == 'Q') {
            expected.quiet = true;
        } else {
            expected.notes.emplace_back(CommandLineNote::Kind::illegal_option, std::string(character));
        }
    }
}

Expected plain_reading(const std::vector<std::string_view>& arguments) {
    Expected expected;
    for (std::string_view argument : arguments) {
        if (argument == "--") break;
        if (argument == "--help" || (kSlashStartsOptions && argument == "/?")) {
            expected.request = Request::help;
            return expected;
        }
        if (argument == "--version") {
            expected.request = Request::version;
            return expected;
        }
    }
    bool options_ended = false;
    for (std::string_view argument : arguments) {
        bool option_start = !argument.empty() && (argument[0] == '-' || (kSlashStartsOptions && argument[0] == '/'));
        if (!options_ended && argument == "--") {
            options_ended = true;
        } else if (!options_ended && argument == "--json") {
            expected.json = true;
        } else if (!options_ended && argument == "--undo") {
            expected.undo = true;
        } else if (!options_ended && argument == "--recover") {
            expected.recover = true;
        } else if (!options_ended && argument == "--sync") {
            expected.sync = true;
        } else if (!options_ended && argument.substr(0, 2) == "--") {
            expected.notes.emplace_back(CommandLineNote::Kind::illegal_option, std::string(argument));
        } else if (!options_ended && option_start) {
            read_letters(argument, expected);
        } else {
            expected.specifications.emplace_back(argument);
            if (expected.specifications.size() == 3) {
                expected.notes.emplace_back(CommandLineNote::Kind::too_many_specifications, "");
            }
        }
    }
    return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> arguments;
    for (std::size_t at = 0; size > 0;) {
        std::size_t nul = input.find('\0', at);
        arguments.push_back(input.substr(at, nul - at));
        if (nul == std::string_view::npos) break;
        at = nul + 1;
    }

    CommandLine read = kestrane::read_command_line(arguments);
    Expected expected = plain_reading(arguments);
    check(read.request == expected.request, "help, version or a run: not what the arguments ask for");
    if (read.request != Request::run) {
        // The version or the help text, and nothing else: no run.
        check(!kestrane::is_runnable(read), "help or version would also run");
        return 0;
    }

    check(read.options.mode == expected.mode, "-a / -u read wrongly");
    check(read.options.dry_run == expected.dry_run, "-n read wrongly");
    check(read.folder_trees == expected.trees, "-r read wrongly");
    check(read.quiet == expected.quiet, "-q read wrongly");
    check(read.json_lines == expected.json, "--json read wrongly");
    check(read.durable == expected.sync, "--sync read wrongly");
    Task task = expected.undo ? Task::undo : expected.recover ? Task::recover : Task::copy;
    check(read.task == task, "--undo / --recover read wrongly");
    check(read.file_specification_count == static_cast<int>(expected.specifications.size()),
          "file specifications miscounted");
    check(read.input_specification == (expected.specifications.size() > 0 ? expected.specifications[0] : ""),
          "the input specification is not the first");
    check(read.output_specification == (expected.specifications.size() > 1 ? expected.specifications[1] : ""),
          "the output specification is not the second");
    check(read.notes.size() == expected.notes.size(), "complaints miscounted");
    for (std::size_t i = 0; i < read.notes.size(); ++i) {
        check(read.notes[i].kind == expected.notes[i].first && read.notes[i].text == expected.notes[i].second,
              "a complaint is not the one the arguments call for, or out of order");
    }
    check(read.bad == !expected.notes.empty(), "bad without a complaint, or a complaint without bad");

    // A run, or the usage text with the complaints and exit status 2.
    std::size_t wanted = task == Task::copy ? 2 : 0;
    bool runs = expected.notes.empty() && expected.specifications.size() == wanted;
    check(kestrane::is_runnable(read) == runs, "runs where the usage text is due, or the other way round");
    return 0;
}
