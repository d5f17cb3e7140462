#include "cli/command_line.h"

#include "names/path_facts.h"
#include "names/utf8.h"
#include "platform/arguments.h"

namespace kestrane {
namespace {

void note_illegal_option(std::string_view option, CommandLine& command_line) {
    command_line.notes.push_back({CommandLineNote::Kind::illegal_option, std::string(option)});
    command_line.bad = true;
}

// The length of the character at text[at]: a UTF-8 sequence, or 1 for a
// byte that starts none. A surrogate's three bytes are one character only
// where names carry unpaired surrogates (Windows); elsewhere they are no
// UTF-8, as the JSON report takes them too.
std::size_t character_length(std::string_view text, std::size_t at) {
    Utf8Sequence decoded = decode_utf8(text, at);
    bool surrogate = decoded.code_point >= 0xD800 && decoded.code_point <= 0xDFFF;
    if (decoded.length == 0 || (surrogate && !kNamesMayHoldLoneSurrogates)) return 1;
    return decoded.length;
}

// The option letters one by one; a character outside ASCII is told whole
// (a byte that starts no UTF-8 sequence, alone).
void read_option_group(std::string_view group, CommandLine& command_line) {
    for (std::size_t at = 1; at < group.size();) {
        std::size_t length = character_length(group, at);
        std::string_view character = group.substr(at, length);
        at += length;
        if (length > 1) {
            note_illegal_option(character, command_line);
            continue;
        }
        char letter = character.front();
        switch (letter) {
            case 'a':
            case 'A':
                command_line.options.mode = TransferMode::append_only;
                break;
            case 'u':
            case 'U':
                command_line.options.mode = TransferMode::update_only;
                break;
            case 'n':
            case 'N':
                command_line.options.dry_run = true;
                break;
            case 'r':
            case 'R':
                command_line.folder_trees = true;
                break;
            case 'q':
            case 'Q':
                command_line.quiet = true;
                break;
            default:
                note_illegal_option(character, command_line);
        }
    }
}

void read_file_specification(std::string_view argument, CommandLine& command_line) {
    int count = ++command_line.file_specification_count;
    if (count == 1) {
        command_line.input_specification = argument;
    } else if (count == 2) {
        command_line.output_specification = argument;
    } else if (count == 3) {
        // A shell expanded an unquoted wildcard (POSIX shells, and Git Bash,
        // MSYS2 or Cygwin on Windows): running on would copy one file's tag
        // over another's.
        command_line.notes.push_back({CommandLineNote::Kind::too_many_specifications, {}});
        command_line.bad = true;
    }
}

// The argument after which every argument is a file specification.
constexpr std::string_view kEndOfOptions = "--";
constexpr std::string_view kJsonLines = "--json";
constexpr std::string_view kUndo = "--undo";
constexpr std::string_view kRecover = "--recover";
constexpr std::string_view kSync = "--sync";

// "--help", or "/?" where '/' starts options too (Windows, where it is the
// usual way to ask a program for help).
bool asks_for_help(std::string_view argument) {
    return argument == "--help" || (argument == "/?" && platform::is_option_start('/'));
}

}  // namespace

CommandLine read_command_line(std::span<const std::string_view> arguments) {
    CommandLine command_line;
    for (std::string_view argument : arguments) {
        if (argument == kEndOfOptions) break;
        if (asks_for_help(argument) || argument == "--version") {
            command_line.request = argument == "--version" ? Request::version : Request::help;
            return command_line;
        }
    }
    bool options_ended = false;
    for (std::string_view argument : arguments) {
        // NOLINTNEXTLINE(bugprone-branch-clone): after "--" even what looks like an option is a specification
        if (options_ended) {
            read_file_specification(argument, command_line);
        } else if (argument == kEndOfOptions) {
            options_ended = true;
        } else if (argument == kJsonLines) {
            command_line.json_lines = true;
        } else if (argument == kUndo || argument == kRecover) {
            if (command_line.task != Task::undo) command_line.task = argument == kUndo ? Task::undo : Task::recover;
        } else if (argument == kSync) {
            command_line.durable = true;
        } else if (argument.starts_with(kEndOfOptions)) {
            note_illegal_option(argument, command_line);  // no long option of ours: told whole
        } else if (!argument.empty() && platform::is_option_start(argument.front())) {
            read_option_group(argument, command_line);
        } else {
            read_file_specification(argument, command_line);
        }
    }
    return command_line;
}

bool is_runnable(const CommandLine& command_line) {
    int specifications = command_line.task == Task::copy ? 2 : 0;
    return command_line.request == Request::run && command_line.file_specification_count == specifications &&
           !command_line.bad;
}

}  // namespace kestrane
