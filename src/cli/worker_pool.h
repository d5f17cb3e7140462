// A few threads of the run's own, for work that waits on files: listing the
// folders of a tree on a cold disk or a share, learning which files pairs
// name, carrying pairs out. The run hands them tasks, urgent ones first,
// each in the order given. One mutex guards the tasks and whatever the
// owners of the tasks share (the walk's folders, the pairs in flight).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/threads.h"

namespace kestrane {

// Most descriptors a task holds at once: a pair's two files and the two
// folders they are opened in; and those the run keeps for itself besides
// (its own pair, the idle folders it holds: folders_held.h).
inline constexpr std::size_t kDescriptorsATask = 4;
inline constexpr std::size_t kDescriptorsOfTheRun = 12;

class WorkerPool {
public:
    using Lock = std::unique_lock<std::mutex>;

    // Starts up to `most` threads, fewer when the process has fewer file
    // descriptors to spare than kDescriptorsATask for each (beyond the run's own), or the system fewer
    // threads to give; none when fewer than two can be had (one at a time
    // is the run's own way).
    explicit WorkerPool(std::size_t most);
    // Lets no task start any more and waits for those under way: no worker
    // outlives the pool.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    std::size_t threads() const { return threads_.size(); }
    std::mutex& mutex() { return mutex_; }

    // With the lock held: queues a task.
    void give(std::function<void()> task, bool urgent = false);
    // Wakes whoever waits: something they may wait for changed.
    void changed() { changed_.notify_all(); }
    // With the lock held: waits until something changed or the time is up.
    void wait_for_change(Lock& lock, std::chrono::milliseconds longest) { changed_.wait_for(lock, longest); }
    // With the lock held: whether a task ran out of memory. The workers then
    // take no task any more: the run can't go on with them.
    bool out_of_memory() const { return out_of_memory_; }
    // With the lock held: no queued task starts any more.
    void stop_taking_tasks();
    // Waits, without the lock, until no task is under way.
    void wait_until_idle();

private:
    static void work(void* pool);
    void take_tasks();

    std::mutex mutex_;
    std::condition_variable tasks_;    // for the workers: a task, or stop
    std::condition_variable changed_;  // for those who wait on the workers
    std::deque<std::function<void()>> urgent_, plain_;
    std::vector<platform::Thread> threads_;
    std::size_t under_way_ = 0;
    bool stopping_ = false;
    bool out_of_memory_ = false;
};

}  // namespace kestrane
