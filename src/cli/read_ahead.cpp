#include "cli/read_ahead.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <string_view>

#include "platform/files.h"
#include "platform/signals.h"
#include "tags/tag_io.h"

namespace kestrane {
namespace {

using namespace std::chrono_literals;

// How long an idle reader sleeps before it looks for new pairs again. The
// run never wakes the readers (that would cost it a system call per pair):
// they look. The window holds far more pairs than the run gets through in
// this time, so the readers stay ahead.
constexpr auto kIdleLook = 1ms;
// Each pair whose files were in the cache already adds one to a score, each
// pair with a file that was not takes kNotCachedWeight off (the probe also
// fails now and then on a cached file). At kCachedBeforeSampling the cache
// is taken to be warm and only every kSampleStride-th pair is read ahead,
// until one is found that was not cached.
constexpr std::size_t kCachedBeforeSampling = 64;
constexpr std::size_t kNotCachedWeight = 16;
constexpr std::size_t kSampleStride = 16;
// How long stopping waits for the readers to finish the file in hand.
constexpr auto kStopGrace = 100ms;

constexpr std::size_t kNoPair = std::numeric_limits<std::size_t>::max();

// One pair's paths, handed from the run to the readers.
struct Slot {
    std::mutex mutex;
    std::size_t pair = kNoPair;
    std::string input_path;  // empty: not to be read
    std::string output_path;
};

}  // namespace

// What the run and the readers share. The run writes pair p's paths into
// slots[p % kReadAheadPairs] (the slot of a pair it is done with) and then
// raises `handed`; a reader takes the pair `next` points at, if the run has
// handed it and not yet reached it, and copies its paths out under the
// slot's lock.
struct ReadAheadShared {
    explicit ReadAheadShared(std::size_t first) : current(first), handed(first + 1), next(first + 1) {}
    std::array<Slot, kReadAheadPairs> slots;
    std::atomic<std::size_t> current;  // the pair the run is at
    std::atomic<std::size_t> handed;   // pairs below this have been handed
    std::atomic<std::size_t> next;     // the next pair for a reader
    std::atomic<std::size_t> cached_score{0};
    std::atomic<bool> stopping{false};
    std::mutex mutex;  // for the two conditions and `finished`
    std::condition_variable stop_requested;
    std::condition_variable reader_finished;
    std::size_t finished = 0;  // readers that have returned
};

namespace {

// Takes the next pair the run has not reached yet into pair and the paths;
// false when stopping. Sampling takes every kSampleStride-th pair only.
bool take_pair(ReadAheadShared& shared, std::size_t& pair, std::string& input_path, std::string& output_path) {
    while (!shared.stopping.load()) {
        std::size_t next = shared.next.load();
        pair = std::max(next, shared.current.load(std::memory_order_relaxed) + 1);
        if (pair >= shared.handed.load()) {
            std::unique_lock lock(shared.mutex);
            shared.stop_requested.wait_for(lock, kIdleLook, [&] { return shared.stopping.load(); });
            continue;
        }
        std::size_t stride = shared.cached_score.load() >= kCachedBeforeSampling ? kSampleStride : 1;
        if (!shared.next.compare_exchange_weak(next, pair + stride)) continue;
        Slot& slot = shared.slots[pair % kReadAheadPairs];
        std::lock_guard lock(slot.mutex);
        if (slot.pair != pair) continue;  // the run is past it and has reused the slot
        input_path = slot.input_path;
        output_path = slot.output_path;
        return true;
    }
    return false;
}

// Reads the pair's files ahead; true when both were in the cache already.
bool warm_pair(const std::string& input_path, const std::string& output_path) {
    bool input_cached = input_path.empty() || platform::warm_file_end(input_path, kTailReadSize);
    bool output_cached = output_path.empty() || platform::warm_file_end(output_path, kTailReadSize);
    return input_cached && output_cached;
}

// Updates the score with whether the pair's files were cached already.
// When a sampled pair's were not, the pairs sampling skipped after it are
// read ahead too.
void count_pair(ReadAheadShared& shared, std::size_t pair, bool cached) {
    std::size_t score = shared.cached_score.load();
    std::size_t new_score = 0;
    do {
        if (cached) {
            new_score = std::min(score + 1, kCachedBeforeSampling);
        } else if (score >= kCachedBeforeSampling) {
            new_score = kCachedBeforeSampling - kNotCachedWeight;
        } else {
            new_score = score - std::min(score, kNotCachedWeight);
        }
    } while (!shared.cached_score.compare_exchange_weak(score, new_score));
    if (score >= kCachedBeforeSampling && new_score < kCachedBeforeSampling) {
        std::size_t next = shared.next.load();
        while (next > pair + 1 && !shared.next.compare_exchange_weak(next, pair + 1)) {
        }
    }
}

void read_pairs_ahead(std::shared_ptr<ReadAheadShared> shared) {
    try {
        std::size_t pair = 0;
        std::string input_path, output_path;
        while (take_pair(*shared, pair, input_path, output_path)) {
            count_pair(*shared, pair, warm_pair(input_path, output_path));
        }
    } catch (...) {
        // Out of memory: this reader stops; the run goes on as it would.
    }
    std::lock_guard lock(shared->mutex);
    ++shared->finished;
    shared->reader_finished.notify_all();
}

// How KESTRANE_READ_AHEAD sets read-ahead.
enum class Setting { off, from_first_pair, when_slow };

Setting read_ahead_setting() {
    const char* setting = std::getenv(kReadAheadVariable);
    std::string_view value = setting != nullptr ? setting : "";
    if (value == "0") return Setting::off;
    if (value == "1") return Setting::from_first_pair;
    return Setting::when_slow;
}

}  // namespace

ReadAhead::ReadAhead(std::size_t pair_count, PairPaths paths) : paths_(std::move(paths)), pair_count_(pair_count) {
    if (pair_count < kReadAheadLeastPairs) return;
    switch (read_ahead_setting()) {
        case Setting::off:
            break;
        case Setting::from_first_pair:
            start(0);
            break;
        case Setting::when_slow:
            timing_ = true;
            break;
    }
}

ReadAhead::~ReadAhead() { stop(); }

void ReadAhead::start(std::size_t current) {
    timing_ = false;
    try {
        shared_ = std::make_shared<ReadAheadShared>(current);
        handed_ = current + 1;  // the run has this pair in hand
        platform::begin_starting_threads();
        try {
            for (std::size_t i = 0; i < kReadAheadThreads; ++i) readers_.emplace_back(read_pairs_ahead, shared_);
        } catch (...) {
            // No more threads to be had: those started will do.
        }
        platform::end_starting_threads();
    } catch (...) {
        // Out of memory: the run goes on without read-ahead.
    }
    if (readers_.empty()) shared_.reset();
}

// The clock is read without a system call where it counts (the vDSO on
// Linux). The time between two calls is the time of one pair.
void ReadAhead::time_pair(std::size_t current) {
    auto now = std::chrono::steady_clock::now();
    if (current > 0) slow_in_a_row_ = now - last_pair_start_ > kSlowPair ? slow_in_a_row_ + 1 : 0;
    last_pair_start_ = now;
    if (pair_count_ - current < kReadAheadLeastPairs) {
        timing_ = false;
    } else if (slow_in_a_row_ >= kSlowPairsBeforeStart) {
        start(current);
    }
}

void ReadAhead::reach(std::size_t current) {
    if (timing_) time_pair(current);
    if (!shared_) return;
    shared_->current.store(current, std::memory_order_relaxed);
    std::size_t end = std::min(pair_count_, current + kReadAheadPairs);
    try {
        for (; handed_ < end; ++handed_) {
            Slot& slot = shared_->slots[handed_ % kReadAheadPairs];
            {
                std::lock_guard lock(slot.mutex);
                slot.pair = handed_;
                paths_(handed_, slot.input_path, slot.output_path);
                if (slot.input_path == last_input_) {
                    slot.input_path.clear();
                } else {
                    last_input_ = slot.input_path;
                }
            }
            shared_->handed.store(handed_ + 1);
        }
    } catch (...) {
        stop();  // out of memory: the run goes on without read-ahead
    }
}

void ReadAhead::stop() {
    timing_ = false;
    if (!shared_) return;
    bool all_finished = false;
    {
        std::unique_lock lock(shared_->mutex);
        shared_->stopping.store(true);
        shared_->stop_requested.notify_all();
        all_finished = shared_->reader_finished.wait_for(
            lock, kStopGrace, [&] { return shared_->finished == readers_.size(); });
    }
    for (std::thread& reader : readers_) {
        if (all_finished) {
            reader.join();
        } else {
            reader.detach();  // held up by a file; it ends with the process
        }
    }
    readers_.clear();
    shared_.reset();
}

}  // namespace kestrane
