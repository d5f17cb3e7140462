// One pair of the plan carried out, as alone or with others in flight.
#pragma once

#include <cstdint>
#include <string>

#include "cli/folders_held.h"
#include "cli/plan.h"
#include "tags/copy_context.h"
#include "tags/journal.h"
#include "tags/outcome.h"
#include "tags/transfer_mode.h"

namespace kestrane {

// Room for the tags of the pairs in flight; a pair with bigger tags waits
// until it can run alone.
inline constexpr std::uint64_t kRoomForTags = std::uint64_t{32} << 20;

// What the pairs of one run share.
struct PairContext {
    TransferOptions options;
    WouldBeWritten would_be_written;  // what a dry run would have written so far
    TagRoom room{kRoomForTags};
    Journal* journal = nullptr;       // where each change is noted before it is made
    FoldersHeld* folders = nullptr;   // where the pairs' files are opened; none: by their paths
};

// One pair as carried out: its two paths, and the plan's folders they were
// listed in.
struct PairPaths {
    const std::string& input;
    const std::string& output;
    std::uint32_t input_folder = kNoFolder;
    std::uint32_t output_folder = kNoFolder;
};

// Copies the input's tag onto the output, each file opened in the folder
// its listing read (a file whose folder the path no longer leads to can't
// be opened). A copy that runs out of memory
// (it has written nothing then: the copy loads both tags before it writes)
// is tried again alone in the room; one that runs out alone too comes to
// Outcome::out_of_memory.
Outcome copy_pair(const PairPaths& pair, PairContext& context);

}  // namespace kestrane
