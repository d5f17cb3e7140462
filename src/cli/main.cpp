// Entry point: sets the process up for a run, runs the tool, and always
// ends with status 0; the report on standard output is the tool's interface.
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
    try {
        std::vector<std::string> texts = kestrane::platform::command_line_arguments(argc, argv);
        std::vector<std::string_view> arguments(texts.begin(), texts.end());
        kestrane::run(arguments);
    } catch (const std::bad_alloc&) {
        kestrane::report::say(kestrane::messages::kOutOfMemory);
    }
    kestrane::platform::flush_output();
    return 0;
}
