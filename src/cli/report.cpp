#include "cli/report.h"

#include <initializer_list>
#include <string>

#include "cli/json_lines.h"
#include "cli/message_text.h"
#include "cli/messages.h"
#include "cli/progress.h"
#include "platform/output.h"

namespace kestrane::report {
namespace {

// One report a process.
Form the_form = Form::text;
bool the_run_is_dry = false;
bool the_report_is_quiet = false;

bool in_json_lines() { return the_form == Form::json_lines; }

// Every write of the report: a status line on the screen goes first.
void write_report(std::string_view text) {
    progress::hide();
    platform::write_output(text);
}

// The one line a text holds, without the line ends around it.
std::string_view line_of(std::string_view text) {
    std::size_t first = text.find_first_not_of('\n');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of('\n') + 1 - first);
}

void write_object(std::string& object) {
    object += '}';
    object += '\n';
    write_report(object);
}

std::string outcome_line(const OutcomeFacts& facts, std::string_view output_path, std::string_view input_path) {
    switch (facts.names) {
        case Names::input: return filled(facts.line, input_path);
        case Names::output: return filled(facts.line, output_path);
        case Names::nothing: return facts.line;
    }
    return facts.line;
}

}  // namespace

void start(Form form, bool dry_run, bool quiet) {
    the_form = form;
    the_run_is_dry = dry_run;
    the_report_is_quiet = quiet;
    if (form == Form::json_lines) platform::use_exact_output();
}

void say_text(std::string_view text) {
    if (!in_json_lines()) write_report(text);
}

void say(std::string_view message, std::string_view value) {
    std::string text = filled(message, value);
    if (!in_json_lines()) return write_report(text);
    std::string object = R"({"type":"message","message":)";
    json::append_text(object, line_of(text));
    write_object(object);
}

void say_folder_unreadable(std::string_view folder) {
    say_text("\n");
    say(messages::kCantReadFolder, folder);
}

void say_output(Outcome outcome, std::string_view output_path, std::string_view input_path) {
    const OutcomeFacts& facts = facts_of(outcome);
    if (the_report_is_quiet && !shown_when_quiet(facts.column)) return;
    std::string line = outcome_line(facts, output_path, input_path);
    if (!in_json_lines()) {
        write_report(filled(messages::kHeading, output_path) + line);
        return;
    }
    std::string object = R"({"type":"output","output":)";
    json::append_text(object, output_path);
    object += R"(,"input":)";
    if (input_path.empty()) {
        object += "null";
    } else {
        json::append_text(object, input_path);
    }
    object.append(R"(,"outcome":")").append(facts.word).append(R"(","message":)");
    json::append_text(object, line_of(line));
    write_object(object);
}

void say_unused_inputs(const std::vector<std::string>& input_paths) {
    if (!in_json_lines()) return;
    for (const std::string& path : input_paths) {
        std::string object = R"({"type":"unused_input","input":)";
        json::append_text(object, path);
        write_object(object);
    }
}

void say_totals(const RunTally& tally) {
    if (in_json_lines() || !(platform::output_is_terminal() || the_report_is_quiet)) return;
    Totals totals = totals_of(tally);
    std::string line = counted(messages::kTotals, {totals.outputs, totals[Column::updated], totals[Column::appended],
                                                    totals[Column::up_to_date], totals[Column::not_done]});
    if (totals[Column::left_alone] > 0) line += counted(messages::kLeftAlone, {totals[Column::left_alone]});
    if (totals[Column::put_back] > 0) line += counted(messages::kPutBack, {totals[Column::put_back]});
    if (tally.unused_inputs == 1) line += messages::kInputWithoutOutput;
    if (tally.unused_inputs > 1) line += counted(messages::kInputsWithoutOutput, {tally.unused_inputs});
    line += '\n';
    write_report(line);
}

void finish(const RunTally& tally, int exit_status) {
    if (!in_json_lines()) return;
    std::string object = R"({"type":"summary","outputs":)";
    object += std::to_string(totals_of(tally).outputs);
    object += R"(,"counts":{)";
    for (const OutcomeFacts& facts : kOutcomes) {
        if (facts.outcome != kOutcomes.front().outcome) object += ',';
        object.append("\"").append(facts.word).append("\":");
        object += std::to_string(tally.outputs[static_cast<std::size_t>(facts.outcome)]);
    }
    object.append(R"(},"unused_inputs":)").append(std::to_string(tally.unused_inputs));
    object.append(R"(,"dry_run":)").append(the_run_is_dry ? "true" : "false");
    object.append(R"(,"exit_status":)").append(std::to_string(exit_status));
    write_object(object);
}

}  // namespace kestrane::report
