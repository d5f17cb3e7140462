#include "cli/report.h"

#include <initializer_list>
#include <optional>
#include <string>

#include "cli/json_lines.h"
#include "cli/messages.h"
#include "platform/output.h"

namespace kestrane::report {
namespace {

// One report a process.
struct Report {
    Form form = Form::text;
    bool dry_run = false;
    RunTally tally;
};
Report the_report;

bool in_json_lines() { return the_report.form == Form::json_lines; }

// The message with its one '%s' or '%c' (if any) replaced by value.
std::string filled(std::string_view message, std::string_view value) {
    std::string text(message);
    if (std::size_t at = text.find('%'); at != std::string::npos) text.replace(at, 2, value);
    return text;
}

// The message with each '%d' in turn replaced by a count.
std::string counted(std::string_view message, std::initializer_list<std::size_t> counts) {
    std::string text(message);
    std::size_t at = 0;
    for (std::size_t count : counts) {
        at = text.find("%d", at);
        std::string number = std::to_string(count);
        text.replace(at, 2, number);
        at += number.size();
    }
    return text;
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
    platform::write_output(object);
}

// A line of text, or in JSON Lines its message object.
void say_line(std::string_view text) {
    if (!in_json_lines()) return platform::write_output(text);
    std::string object = R"({"type":"message","message":)";
    json::append_text(object, line_of(text));
    write_object(object);
}

std::string outcome_line(Outcome outcome, std::string_view input_path, std::string_view output_path) {
    using namespace messages;
    switch (outcome) {
        case Outcome::updated: return filled(kUpdated, input_path);
        case Outcome::appended: return filled(kAppended, input_path);
        case Outcome::up_to_date: return filled(kUpToDate, input_path);
        case Outcome::would_update: return filled(kWouldUpdate, input_path);
        case Outcome::would_append: return filled(kWouldAppend, input_path);
        case Outcome::no_matching_input: return kNoMatchingInput;
        case Outcome::multiple_matching_inputs: return kMultipleMatchingInputs;
        case Outcome::cant_open_input: return filled(kCantOpenInput, input_path);
        case Outcome::cant_open_output: return kCantOpenOutput;
        case Outcome::input_has_no_tag: return filled(kInputHasNoTag, input_path);
        case Outcome::output_already_tagged: return filled(kOutputAlreadyTagged, output_path);
        case Outcome::output_has_no_tag: return filled(kOutputHasNoTag, output_path);
        case Outcome::update_failed: return kUpdateFailed;
        case Outcome::append_failed: return kAppendFailed;
    }
    return {};
}

void say_output(Outcome outcome, std::optional<std::string_view> input_path, std::string_view output_path) {
    ++the_report.tally.outputs[static_cast<std::size_t>(outcome)];
    std::string line = outcome_line(outcome, input_path.value_or(""), output_path);
    if (!in_json_lines()) return platform::write_output(line);
    std::string object = R"({"type":"output","output":)";
    json::append_text(object, output_path);
    object += R"(,"input":)";
    if (input_path) {
        json::append_text(object, *input_path);
    } else {
        object += "null";
    }
    object.append(R"(,"outcome":")").append(outcome_word(outcome)).append(R"(","message":)");
    json::append_text(object, line_of(line));
    write_object(object);
}

void say_summary(int status) {
    std::string object = R"({"type":"summary","outputs":)";
    object += std::to_string(totals_of(the_report.tally).outputs);
    object += R"(,"counts":{)";
    for (std::size_t outcome = 0; outcome < kOutcomeCount; ++outcome) {
        if (outcome > 0) object += ',';
        object.append("\"").append(outcome_word(static_cast<Outcome>(outcome))).append("\":");
        object += std::to_string(the_report.tally.outputs[outcome]);
    }
    object.append(R"(},"dry_run":)").append(the_report.dry_run ? "true" : "false");
    object.append(R"(,"exit_status":)").append(std::to_string(status));
    write_object(object);
}

}  // namespace

void start(Form form, bool dry_run) {
    the_report.form = form;
    the_report.dry_run = dry_run;
    if (form == Form::json_lines) platform::use_exact_output();
}

void say_text(std::string_view text) {
    if (!in_json_lines()) platform::write_output(text);
}

void say(std::string_view message, std::string_view value) { say_line(filled(message, value)); }

void say_bad_command_line() {
    the_report.tally.bad_command_line = true;
    say_text(messages::kUsage);
}

void say_shortfall(std::string_view message, std::string_view value) {
    the_report.tally.fell_short = true;
    say(message, value);
}

void say_folder_unreadable(std::string_view folder) {
    say_text("\n");
    say_shortfall(messages::kCantReadFolder, folder);
}

void say_heading(std::string_view output_path) { say_text(filled(messages::kHeading, output_path)); }

void say_outcome(CopyOutcome outcome, std::string_view input_path, std::string_view output_path) {
    say_output(outcome_of(outcome), input_path, output_path);
}

void say_unpaired(Outcome outcome, std::string_view output_path) { say_output(outcome, std::nullopt, output_path); }

void say_totals() {
    if (in_json_lines() || !platform::output_is_terminal()) return;
    Totals totals = totals_of(the_report.tally);
    std::string line = counted(messages::kTotals, {totals.outputs, totals.updated, totals.appended,
                                                    totals.up_to_date, totals.not_done});
    if (totals.left_alone > 0) line += counted(messages::kLeftAlone, {totals.left_alone});
    line += '\n';
    platform::write_output(line);
}

int finish() {
    int status = exit_status(the_report.tally);
    if (in_json_lines()) say_summary(status);
    return status;
}

}  // namespace kestrane::report
