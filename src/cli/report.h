// The report on standard output. Everything the tool prints goes through
// here; the texts themselves are in messages.h. The report counts what it
// says, and the exit status is made from that count.
#pragma once

#include <string_view>

#include "cli/run_tally.h"
#include "tags/copy_tag.h"

namespace kestrane::report {

// Text for people, or JSON Lines for programs: one object a line, for each
// output and for each other line the text would hold, then a summary.
enum class Form { text, json_lines };

// Sets the report's form; before anything is said.
void start(Form form, bool dry_run);

// Prints a text for people as it stands: the banner, the usage text asked
// for, the version. A JSON Lines report leaves it out.
void say_text(std::string_view text);

// Prints a line of its own (a complaint about the command line), its one
// '%s' or '%c', if any, replaced by value.
void say(std::string_view message, std::string_view value = {});

// Prints the usage text for a command line that could not be run (in JSON
// Lines only the complaints said before stand for it).
void say_bad_command_line();

// Prints a line that says the run fell short outside any one output: a
// specification that matched nothing, memory that ran out.
void say_shortfall(std::string_view message, std::string_view value = {});

// Prints that a folder could not be read, as an entry of its own: a shortfall.
void say_folder_unreadable(std::string_view folder);

// Prints an output's heading, before anything is done with it.
void say_heading(std::string_view output_path);

// Prints the line that says what became of one output.
void say_outcome(CopyOutcome outcome, std::string_view input_path, std::string_view output_path);

// Prints that an output has no input (Outcome::no_matching_input) or
// several (Outcome::multiple_matching_inputs).
void say_unpaired(Outcome outcome, std::string_view output_path);

// After the last output: on a terminal, the totals for people.
void say_totals();

// Ends the report (in JSON Lines with the summary) and gives the exit status.
int finish();

}  // namespace kestrane::report
