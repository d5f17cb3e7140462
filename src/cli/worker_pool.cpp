#include "cli/worker_pool.h"

#include <algorithm>
#include <new>

#include "platform/files.h"
#include "platform/memory.h"

namespace kestrane {

WorkerPool::WorkerPool(std::size_t most) {
    std::size_t spare = platform::free_file_descriptors(kDescriptorsATask * most + kDescriptorsOfTheRun);
    most = std::min(most, spare > kDescriptorsOfTheRun ? (spare - kDescriptorsOfTheRun) / kDescriptorsATask : 0);
    if (most < 2) return;
    // The tags in flight stay within their room only if a freed tag goes
    // back to the system at once; and every thread's arena would reserve
    // address space a memory limit needs for tags.
    platform::share_one_heap_between_threads();
    platform::give_big_blocks_back_when_freed();
    threads_.reserve(most);
    for (std::size_t i = 0; i < most; ++i) {
        platform::Thread thread;
        if (!platform::start_thread(thread, work, this)) break;  // those started will do
        threads_.push_back(thread);
    }
    if (threads_.size() == 1) {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        tasks_.notify_all();
        platform::join_thread(threads_.front());
        threads_.clear();
    }
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    tasks_.notify_all();
    for (platform::Thread& thread : threads_) platform::join_thread(thread);
}

void WorkerPool::give(std::function<void()> task, bool urgent) {
    (urgent ? urgent_ : plain_).push_back(std::move(task));
    tasks_.notify_one();
}

void WorkerPool::stop_taking_tasks() {
    stopping_ = true;
    urgent_.clear();
    plain_.clear();
    tasks_.notify_all();
}

void WorkerPool::wait_until_idle() {
    Lock lock(mutex_);
    changed_.wait(lock, [&] { return under_way_ == 0; });
}

void WorkerPool::work(void* pool) { static_cast<WorkerPool*>(pool)->take_tasks(); }

void WorkerPool::take_tasks() {
    Lock lock(mutex_);
    for (;;) {
        tasks_.wait(lock, [&] { return stopping_ || !urgent_.empty() || !plain_.empty(); });
        if (stopping_) return;
        auto& queue = urgent_.empty() ? plain_ : urgent_;
        std::function<void()> task = std::move(queue.front());
        queue.pop_front();
        ++under_way_;
        lock.unlock();
        try {
            task();
            task = nullptr;  // what it holds goes before the lock is taken again
            lock.lock();
        } catch (const std::bad_alloc&) {
            lock.lock();
            out_of_memory_ = true;
            stop_taking_tasks();
        }
        --under_way_;
        changed_.notify_all();
    }
}

}  // namespace kestrane
