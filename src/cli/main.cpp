// Entry point: sets the process up for a run, runs the tool, and ends with
// the run's exit status once the report is out.
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cli/batch_run.h"
#include "cli/messages.h"
#include "cli/report.h"
#include "platform/arguments.h"
#include "platform/output.h"
#include "platform/signals.h"
#include "platform/standard_descriptors.h"

int main(int argc, char** argv) {
    kestrane::platform::open_closed_standard_descriptors();  // before anything else is opened
    kestrane::platform::init_output();
    kestrane::platform::init_signals();
    kestrane::RunTally tally;
    int status = 0;
    try {
        std::vector<std::string> texts = kestrane::platform::command_line_arguments(argc, argv);
        std::vector<std::string_view> arguments(texts.begin(), texts.end());
        status = kestrane::run(arguments, tally);
    } catch (const std::bad_alloc&) {
        tally.note(kestrane::RunNote::out_of_memory);
        kestrane::report::say(kestrane::messages::kOutOfMemory);
        status = kestrane::exit_status(tally);
        kestrane::report::finish(tally, status);
    }
    kestrane::platform::flush_output();
    return status;
}
