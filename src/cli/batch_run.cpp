#include "cli/batch_run.h"

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/messages.h"
#include "cli/name_rules.h"
#include "cli/plan.h"
#include "cli/read_ahead.h"
#include "cli/report.h"
#include "platform/console.h"
#include "tags/copy_tag.h"

namespace kestrane {
namespace {

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

// Says that a specification matched nothing, after the folders that could
// not be read.
void report_unmatched(const Plan& plan, const Specifications& specifications) {
    for (const PlanEntry& entry : plan.entries) {
        if (entry.step == Step::unreadable_folder) report::say_folder_unreadable(entry.path);
    }
    bool inputs = plan.unmatched == Unmatched::inputs;
    const std::string& specification = inputs ? specifications.input : specifications.output;
    if (has_wildcards(specification)) {
        report::say(inputs ? messages::kNoInputFiles : messages::kNoOutputFiles);
    } else {
        report::say(messages::kFileNotFound, specification);
    }
}

// Carries out the plan in order, one entry after another, and reports each.
void run_plan(Plan& plan, TransferOptions options) {
    ReadAhead read_ahead(plan.entries.size(), [&](std::size_t number, std::string& input_path,
                                                  std::string& output_path) {
        const PlanEntry& entry = plan.entries[number];
        bool copies = entry.step == Step::copy;
        input_path = copies ? entry.input_path : std::string();
        output_path = copies ? entry.path : std::string();
    });
    WouldBeWritten would_be_written;  // what a dry run would have written so far
    for (std::size_t number = 0; number < plan.entries.size(); ++number) {
        read_ahead.reach(number);
        PlanEntry& entry = plan.entries[number];
        switch (entry.step) {
            case Step::unreadable_folder:
                report::say_folder_unreadable(entry.path);
                break;
            case Step::no_matching_input:
                report::say(messages::kHeading, entry.path);
                report::say(messages::kNoMatchingInput);
                break;
            case Step::multiple_matching_inputs:
                report::say(messages::kHeading, entry.path);
                report::say(messages::kMultipleMatchingInputs);
                break;
            case Step::copy:
                report::say(messages::kHeading, entry.path);
                report::say_outcome(copy_tag(entry.input_path, entry.path, options, &would_be_written),
                                    entry.input_path, entry.path);
                break;
        }
        std::string().swap(entry.path);  // done with this entry
        std::string().swap(entry.input_path);
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

    Specifications specifications{with_default_extension(command_line.input_specification),
                                  with_default_extension(command_line.output_specification)};
    Plan plan = command_line.folder_trees ? plan_tree_run(specifications) : plan_folder_run(specifications);
    if (plan.unmatched != Unmatched::none) {
        report_unmatched(plan, specifications);
        return 0;
    }
    run_plan(plan, command_line.options);
    return 0;
}

}  // namespace kestrane
