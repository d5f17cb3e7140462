// Read-ahead for the batch run. While the run works through the pairs in
// order, a few reader threads bring the ends of the next pairs' files into
// the system's cache, so that on a cold cache (files nobody has touched for
// months, a USB disk, a network share) the run seldom waits for the disk.
//
// It never changes what the run does: the readers only read (no locks, no
// writes), ignore every error, and the run opens, reads and writes every
// file itself exactly as without them. They are stopped without waiting for
// a file that hangs.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kestrane {

// How far the readers go ahead of the run, in pairs: this bounds the reads
// in flight and read-ahead's memory (a slot of two paths per pair), however
// many pairs the run has.
inline constexpr std::size_t kReadAheadPairs = 256;
// Reader threads. Each mostly queues reads and goes on, but an open waits
// for the disk (or, on a network share, for a round trip): several keep
// opens in flight too.
inline constexpr std::size_t kReadAheadThreads = 4;
// Fewer pairs than this (left) are not worth starting threads for.
inline constexpr std::size_t kReadAheadLeastPairs = 16;
// Read-ahead starts after this many pairs in a row took longer than
// kSlowPair each: a pair whose files are cached takes a small fraction of it,
// one that waits for a disk or a network takes longer. Threads make every
// file operation of a process a little dearer (about 5% here), which is
// not worth paying while the files are cached.
inline constexpr std::size_t kSlowPairsBeforeStart = 3;
inline constexpr std::chrono::microseconds kSlowPair{100};
// This environment variable switches read-ahead off ("0") or on from the
// first pair ("1"); otherwise it starts when the pairs are slow.
inline constexpr const char* kReadAheadVariable = "KESTRANE_READ_AHEAD";

// Fills in the paths of the two files the run opens for one pair, both
// empty when it opens neither. Called on the run's thread only.
using PairPaths = std::function<void(std::size_t pair, std::string& input_path, std::string& output_path)>;

struct ReadAheadShared;  // between the run and the readers

class ReadAhead {
public:
    // Read-ahead for a run of pair_count pairs; see kReadAheadVariable for
    // when the readers start. Before they do, and after they stop, the calls
    // below hand them nothing.
    ReadAhead(std::size_t pair_count, PairPaths paths);
    // Stops the readers. Waits briefly for them to finish the file in hand,
    // then leaves any that still hang to end with the process.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The run is at pair `current`: hands the readers the pairs up to the
    // window's end that they have not had yet.
    void reach(std::size_t current);

private:
    void start(std::size_t current);
    void time_pair(std::size_t current);
    void stop();

    std::shared_ptr<ReadAheadShared> shared_;
    std::vector<std::thread> readers_;
    PairPaths paths_;
    std::size_t pair_count_ = 0;
    std::size_t handed_ = 0;   // pairs handed to the readers so far
    std::string last_input_;   // an input shared by consecutive pairs is read once
    bool timing_ = false;      // timing the pairs, to start when they are slow
    std::size_t slow_in_a_row_ = 0;
    std::chrono::steady_clock::time_point last_pair_start_;
};

}  // namespace kestrane
