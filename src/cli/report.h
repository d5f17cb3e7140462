// The report on standard output. Everything the tool prints goes through
// here; the texts themselves are in messages.h and outcomes.h. The report
// only prints: what the run came to is the run's own tally (run_tally.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/run_tally.h"

namespace kestrane::report {

// Text for people, or JSON Lines for programs: one object a line, for each
// output and for each other line the text would hold, then a summary.
enum class Form { text, json_lines };

// Sets the report's form, whether the run is a dry run, and whether the
// report is quiet (-q: of the outputs, only those whose tag was written and
// those that did not get it, and the totals wherever the report goes);
// before anything is said.
void start(Form form, bool dry_run, bool quiet);

// Prints a text for people as it stands: the banner, the usage text, the
// version. A JSON Lines report leaves it out.
void say_text(std::string_view text);

// Prints a line of its own (a complaint about the command line, a
// specification that matched nothing, memory that ran out), its one '%s' or
// '%c', if any, replaced by value.
void say(std::string_view message, std::string_view value = {});

// Prints that a folder could not be read, after a blank line, as an entry
// of its own.
void say_folder_unreadable(std::string_view folder);

// Prints an output's heading and the line that says what became of it. The
// input's path is empty when the output has none. A quiet report leaves out
// outputs up to date and outputs left alone as -a or -u ask.
void say_output(Outcome outcome, std::string_view output_path, std::string_view input_path);

// After the last output, the inputs no output took: in JSON Lines an object
// each (the text tells only how many, in its totals).
void say_unused_inputs(const std::vector<std::string>& input_paths);

// After the last output: on a terminal, or in a quiet report, the totals
// for people.
void say_totals(const RunTally& tally);

// Ends the report: in JSON Lines with the summary.
void finish(const RunTally& tally, int exit_status);

}  // namespace kestrane::report
