// The command line on POSIX systems: the bytes the program was given.
#include "platform/arguments.h"

namespace kestrane::platform {

std::vector<std::string> command_line_arguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

}  // namespace kestrane::platform
