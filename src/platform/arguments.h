// The command line as the tool reads it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrane::platform {

// The arguments after the program's name, as UTF-8 on Windows (taken from
// the wide command line, which holds every character the user typed) and
// as the bytes the program was given on POSIX systems.
std::vector<std::string> command_line_arguments(int argc, char** argv);

// The characters that start a group of option letters: '-', and on Windows
// also '/', the way its own programs take options.
#if defined(_WIN32)
inline constexpr std::string_view kOptionStarts = "-/";
#else
inline constexpr std::string_view kOptionStarts = "-";
#endif
constexpr bool is_option_start(char c) { return kOptionStarts.find(c) != std::string_view::npos; }

}  // namespace kestrane::platform
