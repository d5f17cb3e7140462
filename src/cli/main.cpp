// Entry point: sets up standard output, runs the tool, and always ends with
// status 0; the report on standard output is the tool's interface.
#include <cstdio>
#include <new>
#include <string_view>
#include <vector>

#include "cli/batch_run.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    kestrane::platform::init_output();
    try {
        std::vector<std::string_view> arguments;
        for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
        kestrane::run(arguments);
    } catch (const std::bad_alloc&) {
        std::printf("out of memory!\n");
    }
    kestrane::platform::flush_output();
    return 0;
}
