// The whole run: banner, command line, listing, pairing and the report.
#pragma once

#include <span>
#include <string_view>

namespace kestrane {

// Runs the tool on the arguments after the program's name; always 0.
int run(std::span<const std::string_view> arguments);

}  // namespace kestrane
