#include "cli/pair_workers.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>

#include "platform/files.h"
#include "tags/tag_io.h"

namespace kestrane {
namespace {

using namespace std::chrono_literals;

// How long stopping waits for busy workers before it leaves them be.
constexpr auto kStopGrace = 100ms;

// What the scheduling knows of one entry of the plan.
struct Slot {
    bool looked_up = false;  // its files' identities are known
    bool done = false;
    bool out_of_memory = false;
    std::size_t waiting_for = 0;          // unfinished earlier pairs it shares a file with
    std::vector<std::size_t> dependents;  // later pairs waiting for it
    platform::FileIdentity input_key, output_key;
    CopyOutcome outcome = CopyOutcome::cant_open_input;
};

// A file whose identity can't be learned (it is missing, say) is known by
// its path: a pair that names it again waits all the same.
platform::FileIdentity key_of(const std::string& path) {
    if (std::optional<platform::FileIdentity> identity = platform::identify_file(path, kTailReadSize)) return *identity;
    return {~std::uint64_t{0}, std::hash<std::string>{}(path)};
}

}  // namespace

// Everything below is guarded by `mutex`, but the plan's entries, which
// nobody changes while the workers run, and what the copies share.
struct PairWorkersShared {
    PairWorkersShared(const Plan& plan, std::size_t first, TransferOptions options,
                      std::shared_ptr<WouldBeWritten> would_be_written)
        : plan(&plan),
          options(options),
          would_be_written(std::move(would_be_written)),
          base(first),
          next_lookup(first),
          next_admit(first),
          window_end(std::min(plan.entries.size(), first + kWorkWindow)) {}

    Slot& slot(std::size_t number) { return slots[number - base]; }
    bool is_done(std::size_t number) const {
        return number >= base && number - base < slots.size() && slots[number - base].done;
    }
    bool copies(std::size_t number) const { return plan->entries[number].step == Step::copy; }

    const Plan* plan;
    TransferOptions options;
    std::shared_ptr<WouldBeWritten> would_be_written;
    TagRoom room{kRoomForTags};

    std::mutex mutex;
    std::condition_variable work;      // for the workers: something to do, a pair done, or stop
    std::condition_variable finished;  // for the run: a pair done, or a worker gone
    std::size_t base;                  // slots[0] is this entry; those before are reported
    std::deque<Slot> slots;
    std::size_t next_lookup;  // the next entry whose identities to learn
    std::size_t next_admit;   // the next entry to schedule, in plan order
    std::size_t window_end;   // entries from here on wait for the report to move on
    std::map<platform::FileIdentity, std::size_t> last_user;  // the latest unfinished pair using each file
    std::set<std::size_t> ready;  // pairs with nothing to wait for, taken earliest first
    std::size_t running = 0;
    std::size_t waiting_to_run_alone = 0;  // pairs that ran out of memory beside others
    std::size_t workers_alive = 0;
    bool stopping = false;
};

namespace {

// Schedules the entries whose identities are known, in plan order: a pair
// waits for the latest unfinished pair that uses one of its files.
void admit_in_order(PairWorkersShared& shared) {
    while (shared.next_admit < shared.next_lookup && shared.slot(shared.next_admit).looked_up) {
        std::size_t number = shared.next_admit++;
        Slot& slot = shared.slot(number);
        if (!shared.copies(number)) {
            slot.done = true;  // nothing to carry out
            continue;
        }
        for (const platform::FileIdentity& key : {slot.input_key, slot.output_key}) {
            auto [user, fresh] = shared.last_user.try_emplace(key, number);
            if (fresh || user->second == number) continue;  // input and output: one file
            Slot& earlier = shared.slot(user->second);
            earlier.dependents.push_back(number);
            ++slot.waiting_for;
            user->second = number;
        }
        if (slot.waiting_for == 0) shared.ready.insert(number);
    }
}

void finish(PairWorkersShared& shared, std::size_t number, CopyOutcome outcome, bool out_of_memory) {
    Slot& slot = shared.slot(number);
    slot.done = true;
    slot.outcome = outcome;
    slot.out_of_memory = out_of_memory;
    for (std::size_t later : slot.dependents) {
        if (--shared.slot(later).waiting_for == 0) shared.ready.insert(later);
    }
    for (const platform::FileIdentity& key : {slot.input_key, slot.output_key}) {
        auto user = shared.last_user.find(key);
        if (user != shared.last_user.end() && user->second == number) shared.last_user.erase(user);
    }
    shared.work.notify_all();
    shared.finished.notify_all();
}

// Learns the identities of the next entry's files, without the lock.
void look_up(PairWorkersShared& shared, std::unique_lock<std::mutex>& lock) {
    std::size_t number = shared.next_lookup++;
    while (shared.base + shared.slots.size() <= number) shared.slots.emplace_back();
    if (shared.copies(number)) {
        const PlanEntry& entry = shared.plan->entries[number];
        lock.unlock();
        platform::FileIdentity input_key = key_of(entry.input_path);
        platform::FileIdentity output_key = key_of(entry.path);
        lock.lock();
        shared.slot(number).input_key = input_key;
        shared.slot(number).output_key = output_key;
    }
    shared.slot(number).looked_up = true;
    admit_in_order(shared);
}

// Carries out one pair without the lock. A pair that runs out of memory
// while others hold some waits until none runs and tries again alone; it
// has written nothing yet, as the copy loads both tags before it writes.
void run_pair(PairWorkersShared& shared, std::unique_lock<std::mutex>& lock, std::size_t number) {
    const PlanEntry& entry = shared.plan->entries[number];
    std::string input_path = entry.input_path, output_path = entry.path;
    shared.ready.erase(number);
    ++shared.running;
    CopyOutcome outcome = CopyOutcome::cant_open_input;
    bool out_of_memory = false;
    for (;;) {
        lock.unlock();
        try {
            outcome = copy_tag(input_path, output_path, shared.options, {shared.would_be_written.get(), &shared.room});
            lock.lock();
            break;
        } catch (const std::bad_alloc&) {
            lock.lock();
        }
        if (shared.running == 1 || shared.stopping) {
            out_of_memory = true;
            break;
        }
        --shared.running;
        ++shared.waiting_to_run_alone;
        shared.work.wait(lock, [&] { return shared.running == 0 || shared.stopping; });
        --shared.waiting_to_run_alone;
        ++shared.running;
    }
    --shared.running;
    finish(shared, number, outcome, out_of_memory);
}

void work(void* argument) {
    auto& shared = *static_cast<std::shared_ptr<PairWorkersShared>*>(argument);
    std::shared_ptr<PairWorkersShared> keep = shared;  // alive while this worker is, even past the run's end
    delete static_cast<std::shared_ptr<PairWorkersShared>*>(argument);
    std::unique_lock lock(keep->mutex);
    try {
        while (!keep->stopping) {
            if (keep->waiting_to_run_alone == 0 && !keep->ready.empty()) {
                run_pair(*keep, lock, *keep->ready.begin());
            } else if (keep->next_lookup < keep->window_end) {
                look_up(*keep, lock);
            } else {
                keep->work.wait(lock);
            }
        }
    } catch (const std::bad_alloc&) {
        // No memory for the bookkeeping: every worker stops, and the run
        // carries out the pairs not yet done itself, one at a time.
        if (!lock.owns_lock()) lock.lock();
        keep->stopping = true;
        keep->work.notify_all();
    }
    --keep->workers_alive;
    keep->finished.notify_all();
}

}  // namespace

PairWorkers::PairWorkers(const Plan& plan, std::size_t first, TransferOptions options,
                         std::shared_ptr<WouldBeWritten> would_be_written, std::size_t jobs)
    : shared_(std::make_shared<PairWorkersShared>(plan, first, options, std::move(would_be_written))) {
    jobs = std::min(jobs, platform::free_file_descriptors(2 * jobs) / 2);  // two files a pair
    if (jobs < 2) return;  // one at a time is the run's own way
    threads_.reserve(jobs);
    std::lock_guard lock(shared_->mutex);
    for (std::size_t i = 0; i < jobs; ++i) {
        auto* handed = new std::shared_ptr<PairWorkersShared>(shared_);
        platform::Thread thread;
        if (!platform::start_thread(thread, work, handed)) {
            delete handed;
            break;  // no more threads to be had: those started will do
        }
        threads_.push_back(thread);
        ++shared_->workers_alive;
    }
}

PairWorkers::~PairWorkers() {
    if (threads_.empty()) return;
    bool all_ended = false;
    {
        std::unique_lock lock(shared_->mutex);
        shared_->stopping = true;
        shared_->work.notify_all();
        all_ended = shared_->finished.wait_for(lock, kStopGrace, [&] { return shared_->workers_alive == 0; });
    }
    for (platform::Thread& thread : threads_) {
        if (all_ended) {
            platform::join_thread(thread);
        } else {
            platform::detach_thread(thread);  // held up by a file; it ends with the process
        }
    }
}

CopyOutcome PairWorkers::outcome_of(std::size_t number) {
    PairWorkersShared& shared = *shared_;
    std::unique_lock lock(shared.mutex);
    std::size_t window_end = std::min(shared.plan->entries.size(), number + kWorkWindow);
    if (window_end > shared.window_end) {
        shared.window_end = window_end;
        shared.work.notify_all();
    }
    shared.finished.wait(lock, [&] { return shared.is_done(number) || shared.workers_alive == 0; });
    CopyOutcome outcome;
    bool out_of_memory = false;
    if (shared.is_done(number)) {
        outcome = shared.slot(number).outcome;
        out_of_memory = shared.slot(number).out_of_memory;
    } else {
        // Every worker is gone (memory ran out), so no pair is in flight and
        // every earlier one is done: the run carries this one out itself.
        const PlanEntry& entry = shared.plan->entries[number];
        lock.unlock();
        outcome = copy_tag(entry.input_path, entry.path, shared.options, {shared.would_be_written.get(), nullptr});
        lock.lock();
    }
    while (shared.base <= number && !shared.slots.empty()) {
        shared.slots.pop_front();
        ++shared.base;
    }
    if (shared.base <= number) shared.base = number + 1;
    if (out_of_memory) throw std::bad_alloc();
    return outcome;
}

}  // namespace kestrane
