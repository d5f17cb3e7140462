// Reading the options and the two file specifications.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "tags/copy_tag.h"

namespace kestrane {

struct CommandLine {
    TransferMode mode = TransferMode::update_or_append;
    std::string input_specification;
    std::string output_specification;
    int file_specification_count = 0;
    bool bad = false;  // an illegal option or, where refused, too many specifications
};

// Reads the arguments after the program's name, printing a line for each
// illegal option and for each ignored or refused specification as it is met.
CommandLine read_command_line(std::span<const std::string_view> arguments);

// Whether the run goes on to files: two specifications and nothing bad.
bool is_runnable(const CommandLine& command_line);

}  // namespace kestrane
