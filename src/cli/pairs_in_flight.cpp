#include "cli/pairs_in_flight.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>

#include "cli/progress.h"
#include "platform/signals.h"
#include "tags/tag_io.h"

namespace kestrane {
namespace {

using namespace std::chrono_literals;

// How often the run's thread, waiting for a worker, looks whether an
// interrupt came, and whether the status line is due.
constexpr auto kInterruptLookout = 20ms;

// Which file the path names, its end asked ahead into the cache for the
// copy to come. A file whose identity can't be learned (it is missing, say)
// is known by its path: a pair that names it again collides all the same.
platform::FileIdentity identity_of(const std::string& path) {
    std::optional<platform::FileFacts> facts = platform::look_up_file(path);
    if (!facts) return {~std::uint64_t{0}, std::hash<std::string>{}(path)};
    ask_ahead_for_tag(path, *facts);
    return facts->identity;
}

}  // namespace

PairsInFlight::PairsInFlight(const Plan& plan, std::size_t first, PairContext& context, WorkerPool& pool)
    : plan_(plan), context_(context), pool_(pool), base_(first), next_admit_(first) {
    Lock lock(pool_.mutex());
    widen_window(std::min(plan_.entries.size(), first + kWorkWindow));
}

PairsInFlight::~PairsInFlight() { stop(); }

void PairsInFlight::stop() {
    {
        Lock lock(pool_.mutex());
        stopping_ = true;
        pool_.stop_taking_tasks();  // the tasks queued for the pairs ahead
    }
    pool_.wait_until_idle();
}

std::optional<Outcome> PairsInFlight::carried_out(std::size_t number) const {
    Lock lock(pool_.mutex());
    if (!in_window(number) || window_[number - base_].state != State::done) return std::nullopt;
    return window_[number - base_].outcome;
}

// Every entry that enters the window has its files looked up by a worker;
// an entry with nothing to carry out is done at once.
void PairsInFlight::widen_window(std::size_t end) {
    for (std::size_t number = base_ + window_.size(); number < end; ++number) {
        Pair& entered = window_.emplace_back();
        if (plan_.entries[number].kind != EntryKind::copy) {
            entered.state = State::done;
            continue;
        }
        pool_.give([this, number] {
            Lock lock(pool_.mutex());
            if (!stopping_ && in_window(number) && pair(number).state == State::unknown) look_up(lock, number);
        });
    }
}

// Learns the identities of the entry's files, without the lock, from
// copies of its paths: nothing of the plan is held while the lock is not.
void PairsInFlight::look_up(Lock& lock, std::size_t number) {
    pair(number).state = State::looking_up;
    std::string input_path = plan_.entries[number].input_path, output_path = plan_.entries[number].path;
    lock.unlock();
    platform::FileIdentity input = identity_of(input_path), output = identity_of(output_path);
    lock.lock();
    Pair& looked_up = pair(number);
    looked_up.input = input;
    looked_up.output = output;
    looked_up.state = State::known;
    if (number == next_admit_) admit_in_order();
    pool_.changed();
}

// Admits the looked-up entries in plan order: a pair that uses a file an
// admitted pair not yet done uses is collided, and waits for the run's
// thread; any other goes to the workers.
void PairsInFlight::admit_in_order() {
    for (; in_window(next_admit_); ++next_admit_) {
        Pair& admitted = pair(next_admit_);
        if (plan_.entries[next_admit_].kind != EntryKind::copy) continue;
        if (admitted.state != State::known) return;
        bool collided = in_use_.contains(admitted.input) || in_use_.contains(admitted.output);
        use_files(admitted, +1);
        admitted.state = collided ? State::collided : State::ready;
        if (collided) continue;
        pool_.give(
            [this, number = next_admit_] {
                Lock lock(pool_.mutex());
                if (!stopping_ && in_window(number) && pair(number).state == State::ready) carry_out(lock, number);
            },
            true);
    }
}

void PairsInFlight::use_files(const Pair& pair, int change) {
    for (const platform::FileIdentity& file : {pair.input, pair.output}) {
        if (&file == &pair.output && pair.output == pair.input) break;  // one file, counted once
        std::size_t& users = in_use_[file];
        users = change > 0 ? users + 1 : users - 1;
        if (users == 0) in_use_.erase(file);
    }
}

// Carries the pair out without the lock, from copies of its paths.
void PairsInFlight::carry_out(Lock& lock, std::size_t number) {
    pair(number).state = State::under_way;
    const PlanEntry& entry = plan_.entries[number];
    std::string input_path = entry.input_path, output_path = entry.path;
    PairPaths paths{input_path, output_path, entry.input_folder, entry.output_folder};
    lock.unlock();
    Outcome outcome = copy_pair(paths, context_);
    lock.lock();
    finish(number, outcome);
}

void PairsInFlight::finish(std::size_t number, Outcome outcome) {
    Pair& done = pair(number);
    done.state = State::done;
    done.outcome = outcome;
    use_files(done, -1);
    pool_.changed();
}

std::optional<Outcome> PairsInFlight::outcome_of(std::size_t number) {
    Lock lock(pool_.mutex());
    widen_window(std::min(plan_.entries.size(), number + kWorkWindow));
    for (;;) {
        if (pool_.out_of_memory() || platform::interrupted()) return std::nullopt;
        Pair& asked = pair(number);
        switch (asked.state) {
            case State::done: {
                Outcome outcome = asked.outcome;
                while (base_ <= number) {  // reported: out of the window
                    window_.pop_front();
                    ++base_;
                }
                return outcome;
            }
            case State::unknown:
                look_up(lock, number);
                break;
            case State::known:  // not admitted yet: every earlier pair is, being done
                admit_in_order();
                break;
            case State::ready:
            case State::collided:  // every earlier pair is done
                carry_out(lock, number);
                break;
            case State::looking_up:
            case State::under_way:
                pool_.wait_for_change(lock, kInterruptLookout);
                if (progress::due()) {  // drawn without the lock: the workers go on meanwhile
                    lock.unlock();
                    progress::tick();
                    lock.lock();
                }
                break;
        }
    }
}

}  // namespace kestrane
