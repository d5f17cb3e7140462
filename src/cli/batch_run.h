// The whole run: banner, command line, listing, pairing and the report.
#pragma once

#include <span>
#include <string_view>

namespace kestrane {

// Runs the tool on the arguments after the program's name; gives the exit
// status (run_tally.h). Throws std::bad_alloc when memory runs out.
int run(std::span<const std::string_view> arguments);

}  // namespace kestrane
