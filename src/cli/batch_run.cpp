#include "cli/batch_run.h"

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/messages.h"
#include "cli/name_rules.h"
#include "cli/pairing.h"
#include "cli/read_ahead.h"
#include "cli/report.h"
#include "platform/console.h"
#include "platform/listing.h"
#include "tags/copy_tag.h"

namespace kestrane {
namespace {

// Says that a specification matched nothing.
void report_nothing_found(const std::string& specification, const char* wildcard_message) {
    if (has_wildcards(specification)) {
        report::say(wildcard_message);
    } else {
        report::say(messages::kFileNotFound, specification);
    }
}

void report_notes(const std::vector<CommandLineNote>& notes) {
    for (const CommandLineNote& note : notes) {
        switch (note.kind) {
            case CommandLineNote::Kind::illegal_option:
                report::say(messages::kIllegalOption, note.text);
                break;
            case CommandLineNote::Kind::too_many_specifications:
                report::say(messages::kTooManySpecifications);
                break;
        }
    }
}

// One output and what the listing gives it: its path, how many inputs its
// name selects and, when one does, that input's path.
struct Pair {
    std::string output_path;
    Matches matches = Matches::none;
    std::string input_path;
};

void plan_pair(const std::string& output_name, const std::string& output_directory, const InputIndex& index,
               const std::vector<std::string>& input_names, const std::string& input_directory, Pair& pair) {
    pair.output_path.assign(output_directory).append(output_name);
    InputMatch match = find_input(index, pair.output_path);
    pair.matches = match.matches;
    pair.input_path.clear();
    if (match.matches == Matches::one) pair.input_path.assign(input_directory).append(input_names[match.input]);
}

void process_outputs(std::vector<std::string>& output_names, const std::string& output_directory,
                     const std::vector<std::string>& input_names, const std::string& input_directory,
                     TransferOptions options) {
    InputIndex index = index_inputs(input_names);
    auto plan = [&](std::size_t number, Pair& pair) {
        plan_pair(output_names[number], output_directory, index, input_names, input_directory, pair);
    };
    ReadAhead read_ahead(output_names.size(), [&](std::size_t number, std::string& input_path,
                                                  std::string& output_path) {
        Pair pair;
        plan(number, pair);
        input_path = std::move(pair.input_path);
        output_path = pair.matches == Matches::one ? std::move(pair.output_path) : std::string();
    });
    WouldBeWritten would_be_written;  // what a dry run would have written so far
    Pair pair;
    for (std::size_t number = 0; number < output_names.size(); ++number) {
        read_ahead.reach(number);
        plan(number, pair);
        report::say(messages::kHeading, pair.output_path);
        if (pair.matches == Matches::none) {
            report::say(messages::kNoMatchingInput);
        } else if (pair.matches == Matches::several) {
            report::say(messages::kMultipleMatchingInputs);
        } else {
            report::say_outcome(copy_tag(pair.input_path, pair.output_path, options, &would_be_written), pair.input_path,
                                pair.output_path);
        }
        std::string().swap(output_names[number]);  // done with this output
    }
}

}  // namespace

int run(std::span<const std::string_view> arguments) {
    CommandLine command_line = read_command_line(arguments);
    if (command_line.request == Request::version) {
        report::say(messages::kVersion);
        return 0;
    }
    report::say(messages::kBanner);
    if (command_line.request == Request::help) {
        report::say(messages::kUsage);
        return 0;
    }
    report_notes(command_line.notes);
    if (!is_runnable(command_line)) {
        report::say(messages::kUsage);
        return 0;
    }
    platform::init_console();

    std::string input_specification = with_default_extension(command_line.input_specification);
    std::string output_specification = with_default_extension(command_line.output_specification);
    auto [input_names, output_names] = platform::list_matching_files(input_specification, output_specification);
    if (input_names.empty()) {
        report_nothing_found(input_specification, messages::kNoInputFiles);
        return 0;
    }
    if (output_names.empty()) {
        report_nothing_found(output_specification, messages::kNoOutputFiles);
        return 0;
    }
    process_outputs(output_names, std::string(directory_part(output_specification)), input_names,
                    std::string(directory_part(input_specification)), command_line.options);
    return 0;
}

}  // namespace kestrane
