// The command line as the tool reads it.
#pragma once

#include <string>
#include <vector>

namespace kestrane::platform {

// The arguments after the program's name, as UTF-8 on Windows (taken from
// the wide command line, which holds every character the user typed) and
// as the bytes the program was given on POSIX systems.
std::vector<std::string> command_line_arguments(int argc, char** argv);

}  // namespace kestrane::platform
