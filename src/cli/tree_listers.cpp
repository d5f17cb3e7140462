// Several folders listed at once, for cold caches and network shares where
// each listing waits for the disk or a round trip. Each pending folder is
// the root of a subtree that listers list in any order; the plans are then
// taken in walk order, so the plan is the one a walk of one folder at a time
// makes: a folder met a second time is left out there, and a subtree is not
// walked into a folder it lies in (the walk would never end).
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>

#include "cli/tree_walk.h"
#include "names/path_facts.h"
#include "platform/files.h"
#include "platform/threads.h"

namespace kestrane::tree {
namespace {

struct Node {
    std::string relative;
    std::vector<platform::FileIdentity> ancestors;  // of the folders it lies in, within its subtree
    FolderPlan plan;
    std::vector<std::size_t> children;
};

struct Listers {
    const Trees* trees = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Node> nodes;
    std::vector<std::size_t> waiting;  // nodes not yet listed
    std::size_t busy = 0;
    bool out_of_memory = false;
};

// Lists nodes until none is left or memory runs out.
void list_nodes(void* argument) {
    Listers& listers = *static_cast<Listers*>(argument);
    std::unique_lock lock(listers.mutex);
    while (!listers.out_of_memory && (!listers.waiting.empty() || listers.busy > 0)) {
        if (listers.waiting.empty()) {
            listers.changed.wait(lock);
            continue;
        }
        std::size_t number = listers.waiting.back();
        listers.waiting.pop_back();
        ++listers.busy;
        try {
            std::string relative = listers.nodes[number].relative;
            std::vector<platform::FileIdentity> ancestors = listers.nodes[number].ancestors;
            lock.unlock();
            FolderPlan plan = plan_folder(*listers.trees, relative, [&](const platform::FileIdentity& identity) {
                return std::find(ancestors.begin(), ancestors.end(), identity) != ancestors.end();
            });
            ancestors.push_back(plan.identity);
            lock.lock();
            for (const std::string& name : plan.subfolders) {
                listers.nodes.push_back({relative + name + kPathSeparator, ancestors, {}, {}});
                listers.nodes[number].children.push_back(listers.nodes.size() - 1);
                listers.waiting.push_back(listers.nodes.size() - 1);
            }
            listers.nodes[number].plan = std::move(plan);
        } catch (const std::bad_alloc&) {
            if (!lock.owns_lock()) lock.lock();
            listers.out_of_memory = true;
        }
        --listers.busy;
        listers.changed.notify_all();
    }
}

}  // namespace

void walk_with_listers(const Trees& trees, std::size_t jobs, Walk& walk) {
    Listers listers;
    listers.trees = &trees;
    std::vector<std::size_t> roots;
    for (auto relative = walk.pending.rbegin(); relative != walk.pending.rend(); ++relative) {
        listers.nodes.push_back({*relative, {}, {}, {}});
        roots.push_back(listers.nodes.size() - 1);
    }
    listers.waiting.assign(roots.rbegin(), roots.rend());
    walk.pending.clear();
    // One descriptor a folder listed; this thread lists too.
    jobs = std::min(jobs, platform::free_file_descriptors(jobs));
    std::vector<platform::Thread> threads;
    for (std::size_t i = 1; i < jobs; ++i) {
        platform::Thread thread;
        if (!platform::start_thread(thread, list_nodes, &listers)) break;
        threads.push_back(thread);
    }
    list_nodes(&listers);
    for (platform::Thread& thread : threads) platform::join_thread(thread);
    if (listers.out_of_memory) throw std::bad_alloc();

    // In walk order: each root's subtree, depth first, each folder before
    // its subfolders.
    std::vector<std::size_t> next(roots.rbegin(), roots.rend());
    while (!next.empty()) {
        Node& node = listers.nodes[next.back()];
        next.pop_back();
        bool met_before = node.plan.identity != platform::FileIdentity{} && !walk.visited.insert(node.plan.identity).second;
        if (met_before) continue;
        node.plan.subfolders.clear();  // they are the children
        walk.take(node.plan, node.relative);
        next.insert(next.end(), node.children.rbegin(), node.children.rend());
    }
}

}  // namespace kestrane::tree
