// The whole run: banner, command line, listing, pairing and the report.
#pragma once

#include <span>
#include <string_view>

#include "cli/run_tally.h"

namespace kestrane {

// Runs the tool on the arguments after the program's name, keeping what
// came of it in tally; gives the exit status. Throws std::bad_alloc when
// memory runs out outside the copies, as it may while listing.
int run(std::span<const std::string_view> arguments, RunTally& tally);

}  // namespace kestrane
