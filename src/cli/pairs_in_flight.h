// Several pairs in flight, the way a parallel checkout writes files: the
// workers learn which files the pairs ahead name, and carry out only pairs
// that share no file with another unfinished pair; a pair that does (an
// output that is a later input, one file under two names, one input for
// many outputs) is collided, and the run's own thread carries it out when
// its turn to be reported comes, after every earlier pair is done. So every
// outcome and every file's last bytes are those of a run one pair at a
// time, and the report comes in plan order.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <optional>

#include "cli/copy_pair.h"
#include "cli/plan.h"
#include "cli/worker_pool.h"
#include "platform/files.h"

namespace kestrane {

// How far past the pair being reported the workers may look, in entries:
// this bounds their bookkeeping however long the plan.
inline constexpr std::size_t kWorkWindow = 256;

class PairsInFlight {
public:
    // Pairs from entry `first` on, carried out with the pool's workers.
    PairsInFlight(const Plan& plan, std::size_t first, PairContext& context, WorkerPool& pool);
    // Lets no pair start any more and waits for those under way.
    ~PairsInFlight();
    PairsInFlight(const PairsInFlight&) = delete;
    PairsInFlight& operator=(const PairsInFlight&) = delete;

    // The outcome of copy entry `number`; entries are asked for in plan
    // order, and the run's thread carries a pair out itself when no worker
    // has taken it. None when the run must stop first: an interrupt came,
    // or the workers ran out of memory for their bookkeeping.
    std::optional<Outcome> outcome_of(std::size_t number);

    // Lets no pair start any more, waits for those under way, then gives
    // the outcome of each pair from `number` on that was carried out, in
    // plan order (the end of the window: none).
    void stop();
    std::optional<Outcome> carried_out(std::size_t number) const;

private:
    enum class State { unknown, looking_up, known, ready, collided, under_way, done };
    struct Pair {
        State state = State::unknown;
        platform::FileIdentity input, output;
        Outcome outcome = Outcome::cant_open_input;
    };
    using Lock = WorkerPool::Lock;

    Pair& pair(std::size_t number) { return window_[number - base_]; }
    bool in_window(std::size_t number) const { return number >= base_ && number - base_ < window_.size(); }
    void widen_window(std::size_t end);
    void look_up(Lock& lock, std::size_t number);
    void admit_in_order();
    void carry_out(Lock& lock, std::size_t number);
    void finish(std::size_t number, Outcome outcome);
    void use_files(const Pair& pair, int change);

    const Plan& plan_;
    PairContext& context_;
    WorkerPool& pool_;
    std::deque<Pair> window_;   // entries from base_ on
    std::size_t base_;
    std::size_t next_admit_;    // the next entry to admit, in plan order
    std::map<platform::FileIdentity, std::size_t> in_use_;  // files of admitted pairs not done, and how many use each
    bool stopping_ = false;
};

}  // namespace kestrane
