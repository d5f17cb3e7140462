#include "cli/batch_run.h"

#include <string>
#include <vector>

#include "cli/carry_out.h"
#include "cli/command_line.h"
#include "cli/messages.h"
#include "cli/plan.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/run_tally.h"
#include "names/name_rules.h"
#include "platform/console.h"
#include "platform/output.h"
#include "platform/signals.h"

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

}  // namespace

int run(std::span<const std::string_view> arguments, RunTally& tally) {
    CommandLine command_line = read_command_line(arguments);
    if (command_line.request == Request::version) {
        report::say_text(messages::kVersion);
        return kStatusDone;
    }
    // --help and --version answer in text, with or without --json.
    bool json_lines = command_line.json_lines && command_line.request == Request::run;
    report::start(json_lines ? report::Form::json_lines : report::Form::text, command_line.options.dry_run,
                  command_line.quiet);
    progress::start(!json_lines && platform::output_is_terminal());
    if (!command_line.quiet) report::say_text(messages::kBanner);
    if (command_line.request == Request::help) {
        report::say_text(messages::kUsage);
        return kStatusDone;
    }
    report_notes(command_line.notes);
    if (!is_runnable(command_line)) {
        tally.note(RunNote::bad_command_line);
        report::say_text(messages::kUsage);
        report::finish(tally, exit_status(tally));
        return exit_status(tally);
    }
    platform::init_console();

    Specifications specifications{with_default_extension(command_line.input_specification),
                                  with_default_extension(command_line.output_specification)};
    Jobs jobs = jobs_asked();
    if (jobs.ignored_setting) report::say(messages::kJobsIgnored, *jobs.ignored_setting);
    Workers workers(jobs);
    Plan plan = command_line.folder_trees ? plan_tree_run(specifications, workers) : plan_folder_run(specifications);
    PairContext context;
    context.options = command_line.options;
    tally.unused_inputs = plan.unused_inputs.size();
    progress::follow(tally, plan);
    carry_out(plan, context, workers, tally);
    if (platform::interrupted()) {
        progress::hide();
        platform::flush_output();
        platform::end_as_interrupted();
    }
    report::say_unused_inputs(plan.unused_inputs);
    if (plan.nothing_matched) {
        tally.note(RunNote::nothing_matched);
        report::say(plan.nothing_matched->message, plan.nothing_matched->specification);
    } else if (!tally.has(RunNote::out_of_memory)) {
        report::say_totals(tally);
    }
    report::finish(tally, exit_status(tally));
    return exit_status(tally);
}

}  // namespace kestrane
