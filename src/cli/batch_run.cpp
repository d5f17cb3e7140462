#include "cli/batch_run.h"

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "cli/carry_out.h"
#include "cli/command_line.h"
#include "cli/messages.h"
#include "cli/plan.h"
#include "cli/progress.h"
#include "cli/recovery.h"
#include "cli/report.h"
#include "cli/run_tally.h"
#include "names/name_rules.h"
#include "platform/console.h"
#include "platform/output.h"
#include "platform/own_files.h"
#include "platform/signals.h"
#include "tags/journal.h"

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

// The run as its journal tells it apart: when and where it ran, and its
// command line ("2026-12-10 17:44:05 in /music: kestrane '*.ape' '*.mp3'").
JournalHeader header_of(std::span<const std::string_view> arguments, bool undoes) {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    char when[32] = {};
    const std::tm* local = std::localtime(&seconds);
    // Without a local time, or should it not fit, the description starts with no date.
    if (local == nullptr || std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", local) == 0) when[0] = '\0';
    std::string folder(directory_part(platform::absolute_path("x")));
    if (folder.size() > 1) folder.pop_back();  // its last separator, but for a root
    std::string description = std::string(when) + " in " + folder + ": kestrane";
    for (std::string_view argument : arguments) {
        bool plain = argument.find_first_of(" *?'\"") == std::string_view::npos && !argument.empty();
        description.append(" ").append(plain ? "" : "'").append(argument).append(plain ? "" : "'");
    }
    auto started = std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count();
    return {static_cast<std::uint64_t>(started), platform::process_id(), undoes, description};
}

// Copies tags as the plan says, each change noted in the journal first.
void copy_tags(const CommandLine& command_line, Journal* journal, RunTally& tally) {
    Specifications specifications{with_default_extension(command_line.input_specification),
                                  with_default_extension(command_line.output_specification)};
    Jobs jobs = jobs_asked();
    if (jobs.ignored_setting) report::say(messages::kJobsIgnored, *jobs.ignored_setting);
    Workers workers(jobs);
    Plan plan = command_line.folder_trees ? plan_tree_run(specifications, workers) : plan_folder_run(specifications);
    FoldersHeld folders(plan.folders);
    PairContext context;
    context.options = command_line.options;
    context.journal = journal;
    context.folders = &folders;
    tally.unused_inputs = plan.unused_inputs.size();
    progress::follow(tally, plan);
    carry_out(plan, context, workers, tally);
    if (platform::interrupted()) {
        progress::hide();
        if (journal != nullptr) journal->finish();
        platform::flush_output();
        platform::end_as_interrupted();
    }
    report::say_unused_inputs(plan.unused_inputs);
    if (plan.nothing_matched) {
        tally.note(RunNote::nothing_matched);
        report::say(plan.nothing_matched->message, plan.nothing_matched->specification);
    }
}

}  // namespace

int run(std::span<const std::string_view> arguments, RunTally& tally) {
    CommandLine command_line = read_command_line(arguments);
    if (command_line.request == Request::version) {
        report::say_text(messages::kVersion);
        return exit_status(tally);
    }
    // --help and --version answer in text, with or without --json.
    bool json_lines = command_line.json_lines && command_line.request == Request::run;
    bool dry_run = command_line.options.dry_run;
    report::start(json_lines ? report::Form::json_lines : report::Form::text, dry_run, command_line.quiet);
    progress::start(!json_lines && platform::output_is_terminal());
    if (!command_line.quiet) report::say_text(messages::kBanner);
    if (command_line.request == Request::help) {
        report::say_text(messages::kUsage);
        return exit_status(tally);
    }
    report_notes(command_line.notes);
    if (!is_runnable(command_line)) {
        tally.note(RunNote::bad_command_line);
        report::say_text(messages::kUsage);
        report::finish(tally, exit_status(tally));
        return exit_status(tally);
    }
    platform::init_console();

    // Every run first finishes what runs that did not finish left.
    std::optional<std::string> folder = platform::state_folder();
    if (folder) recover_unfinished_runs(*folder, dry_run, tally);
    Task task = command_line.task;
    Journal journal({folder.value_or(""), header_of(arguments, task == Task::undo), command_line.durable,
                     task != Task::undo});
    Journal* noted_in = dry_run ? nullptr : &journal;
    if (task == Task::undo && folder) {
        undo_last_run(*folder, dry_run, noted_in, tally);
    } else if (task == Task::undo) {
        tally.note(RunNote::nothing_to_undo);
        report::say(messages::kNothingToUndo);
    } else if (task == Task::copy) {
        copy_tags(command_line, noted_in, tally);
    }
    journal.finish();
    if (journal.lost()) report::say(messages::kNoJournal);
    if (journal.past_its_bound()) report::say(messages::kJournalPastBound);
    if (task != Task::recover && !tally.has(RunNote::nothing_matched) && !tally.has(RunNote::out_of_memory) &&
        !tally.has(RunNote::nothing_to_undo)) {
        report::say_totals(tally);
    }
    report::finish(tally, exit_status(tally));
    return exit_status(tally);
}

}  // namespace kestrane
