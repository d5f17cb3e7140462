#include "cli/batch_run.h"

#include <string>
#include <vector>

#include "cli/carry_out.h"
#include "cli/command_line.h"
#include "cli/messages.h"
#include "names/name_rules.h"
#include "cli/plan.h"
#include "cli/report.h"
#include "cli/run_tally.h"
#include "platform/console.h"

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
        report::say_shortfall(inputs ? messages::kNoInputFiles : messages::kNoOutputFiles);
    } else {
        report::say_shortfall(messages::kFileNotFound, specification);
    }
}

}  // namespace

int run(std::span<const std::string_view> arguments) {
    CommandLine command_line = read_command_line(arguments);
    if (command_line.request == Request::version) {
        report::say_text(messages::kVersion);
        return kStatusDone;
    }
    // --help and --version answer in text, with or without --json.
    bool json_lines = command_line.json_lines && command_line.request == Request::run;
    report::start(json_lines ? report::Form::json_lines : report::Form::text, command_line.options.dry_run);
    report::say_text(messages::kBanner);
    if (command_line.request == Request::help) {
        report::say_text(messages::kUsage);
        return kStatusDone;
    }
    report_notes(command_line.notes);
    if (!is_runnable(command_line)) {
        report::say_bad_command_line();
        return report::finish();
    }
    platform::init_console();

    Specifications specifications{with_default_extension(command_line.input_specification),
                                  with_default_extension(command_line.output_specification)};
    Plan plan = command_line.folder_trees ? plan_tree_run(specifications) : plan_folder_run(specifications);
    if (plan.unmatched != Unmatched::none) {
        report_unmatched(plan, specifications);
        return report::finish();
    }
    carry_out(plan, command_line.options);
    report::say_totals();
    return report::finish();
}

}  // namespace kestrane
