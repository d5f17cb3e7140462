// Entry point: sets up standard output, runs the tool, and always ends with
// status 0; the report on standard output is the tool's interface.
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cli/batch_run.h"
#include "cli/messages.h"
#include "cli/report.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    kestrane::platform::init_output();
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
