// Several pairs in flight. A few worker threads carry out the copies of a
// plan, at most `jobs` at once, each pair exactly as a run that works one
// pair at a time does it. Before a pair starts, its two files' identities
// are learned; a pair that shares a file with an earlier unfinished one (an
// output that is a later input, one file under two names, one input for
// many outputs) waits for it, so such pairs run in plan order. Every
// outcome and every file's final bytes are therefore those of a run that
// works one pair at a time, and the run reports the outcomes in plan order.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "cli/plan.h"
#include "platform/threads.h"
#include "tags/copy_tag.h"

namespace kestrane {

// How far past the pair being reported the workers may go, in entries:
// this bounds their bookkeeping however long the plan.
inline constexpr std::size_t kWorkWindow = 256;
// Room for the tags of the pairs in flight; a pair with bigger tags waits
// until it can run alone.
inline constexpr std::uint64_t kRoomForTags = std::uint64_t{32} << 20;

struct PairWorkersShared;

class PairWorkers {
public:
    // Starts up to `jobs` workers (fewer when the process has fewer file
    // descriptors to spare than two for each) on the plan's copies from
    // entry `first` on.
    PairWorkers(const Plan& plan, std::size_t first, TransferOptions options,
                std::shared_ptr<WouldBeWritten> would_be_written, std::size_t jobs);
    // Stops the workers: waits briefly for those still busy, then leaves any
    // that hang on a file to end with the process.
    ~PairWorkers();
    PairWorkers(const PairWorkers&) = delete;
    PairWorkers& operator=(const PairWorkers&) = delete;

    // Whether any worker started (none: the run goes on one pair at a time).
    bool started() const { return !threads_.empty(); }

    // The outcome of copy entry `number`, once its pair is done; entries are
    // asked for in plan order. Throws std::bad_alloc when that pair ran out
    // of memory with no other pair in flight.
    CopyOutcome outcome_of(std::size_t number);

private:
    std::shared_ptr<PairWorkersShared> shared_;
    std::vector<platform::Thread> threads_;
};

}  // namespace kestrane
