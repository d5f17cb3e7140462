// The report on standard output. Everything the tool prints goes through
// here; the texts themselves are in messages.h.
#pragma once

#include <string_view>

#include "tags/copy_tag.h"

namespace kestrane::report {

// Prints a message that has no '%s' or '%c' in it.
void say(std::string_view message);

// Prints a message with its one '%s' (or '%c') replaced by value.
void say(std::string_view message, std::string_view value);

// Prints that a folder could not be read, as an entry of its own.
void say_folder_unreadable(std::string_view folder);

// Prints the line that says what became of one output.
void say_outcome(CopyOutcome outcome, std::string_view input_path, std::string_view output_path);

}  // namespace kestrane::report
