// Several folders listed at once, for cold caches and network shares where
// each listing waits for the disk or a round trip. Each pending folder is
// the root of a subtree whose folders the workers list in any order; the
// plans are then taken in walk order, so the plan is the one a walk of one
// folder at a time makes: a folder met a second time is left out there, and
// a subtree is not walked into a folder it lies in (the walk would never
// end).
#include <algorithm>
#include <deque>
#include <chrono>
#include <new>

#include "cli/progress.h"
#include "cli/tree_walk.h"
#include "names/path_facts.h"

namespace kestrane::tree {
namespace {

using namespace std::chrono_literals;

// How often the run's thread, waiting for the listers, looks whether the
// status line is due.
constexpr auto kProgressLookout = 20ms;

struct Node {
    PendingFolder folder;
    // Of the folders it lies in, within its subtree (an inputs-only subtree
    // is one of its own).
    std::vector<platform::FileIdentity> ancestors;
    FolderPlan plan;
    std::vector<std::size_t> children;
};

// The folders met so far; guarded by the pool's mutex.
struct Listing {
    const Trees& trees;
    WorkerPool& pool;
    std::deque<Node> nodes;
    std::size_t unlisted = 0;
    std::size_t listed = 0;
    std::size_t outputs_found = 0;
};

void list_node(Listing& listing, std::size_t number);

void add_node(Listing& listing, Node node) {
    listing.nodes.push_back(std::move(node));
    ++listing.unlisted;
    listing.pool.give([&listing, number = listing.nodes.size() - 1] { list_node(listing, number); });
}

// Lists one folder without the lock, from copies of what it needs, then
// adds its subfolders.
void list_node(Listing& listing, std::size_t number) {
    WorkerPool::Lock lock(listing.pool.mutex());
    PendingFolder folder = listing.nodes[number].folder;
    std::vector<platform::FileIdentity> ancestors = listing.nodes[number].ancestors;
    lock.unlock();
    auto seen = [&](const platform::FileIdentity& identity) {
        return std::find(ancestors.begin(), ancestors.end(), identity) != ancestors.end();
    };
    FolderPlan plan = folder.inputs_only ? plan_inputs_only_folder(listing.trees, folder.relative, seen)
                                         : plan_folder(listing.trees, folder.relative, seen);
    ancestors.push_back(plan.identity);
    lock.lock();
    for (bool inputs_only : {false, true}) {
        for (const std::string& name : inputs_only ? plan.inputs_only_subfolders : plan.subfolders) {
            listing.nodes[number].children.push_back(listing.nodes.size());
            bool subtree_of_its_own = inputs_only && !folder.inputs_only;
            add_node(listing, {{folder.relative + name + kPathSeparator, inputs_only},
                               subtree_of_its_own ? std::vector<platform::FileIdentity>{} : ancestors, {}, {}});
        }
    }
    listing.outputs_found += plan.entries.size();
    listing.nodes[number].plan = std::move(plan);
    --listing.unlisted;
    ++listing.listed;
    listing.pool.changed();
}

// Waits, on every path out, until no listing task is under way: they hold
// the listing.
struct WaitsForListers {
    WorkerPool& pool;
    ~WaitsForListers() { pool.wait_until_idle(); }
};

}  // namespace

void walk_with_listers(const Trees& trees, WorkerPool& pool, Walk& walk) {
    Listing listing{trees, pool, {}, 0};
    WaitsForListers waits{pool};
    std::vector<std::size_t> roots;
    {
        WorkerPool::Lock lock(pool.mutex());
        for (auto folder = walk.pending.rbegin(); folder != walk.pending.rend(); ++folder) {
            roots.push_back(listing.nodes.size());
            add_node(listing, {*folder, {}, {}, {}});
        }
        walk.pending.clear();
        while (listing.unlisted > 0 && !pool.out_of_memory()) {
            pool.wait_for_change(lock, kProgressLookout);
            if (!progress::due()) continue;
            std::size_t folders = walk.folders_listed + listing.listed;
            std::size_t outputs = walk.plan.entries.size() + listing.outputs_found;
            lock.unlock();
            progress::draw_listing(folders, outputs);
            lock.lock();
        }
        if (pool.out_of_memory()) throw std::bad_alloc();
    }

    // In walk order: each root's subtree, depth first, each folder before
    // its subfolders.
    std::vector<std::size_t> next(roots.rbegin(), roots.rend());
    while (!next.empty()) {
        Node& node = listing.nodes[next.back()];
        next.pop_back();
        auto& visited = node.folder.inputs_only ? walk.visited_inputs_only : walk.visited;
        bool met_before = node.plan.identity != platform::FileIdentity{} && !visited.insert(node.plan.identity).second;
        if (met_before) continue;
        node.plan.subfolders.clear();  // they are the children
        node.plan.inputs_only_subfolders.clear();
        walk.take(node.plan, node.folder);
        next.insert(next.end(), node.children.rbegin(), node.children.rend());
    }
}

}  // namespace kestrane::tree
