#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <new>
#include <set>

#include "cli/name_rules.h"
#include "cli/pairing.h"
#include "cli/jobs.h"
#include "cli/plan.h"
#include "platform/facts.h"
#include "platform/files.h"
#include "platform/listing.h"
#include "platform/threads.h"

namespace kestrane {
namespace {

// A specification split into the root of its tree, as typed, and the
// pattern its last component matches in every folder of it.
struct Root {
    std::string_view folder;
    std::string_view pattern;
};

Root root_of(const std::string& specification) {
    std::string_view folder = directory_part(specification);
    return {folder, std::string_view(specification).substr(folder.size())};
}

// A folder's path as reported: the root as typed and the relative folder,
// without its last separator ("." for the current folder).
std::string folder_path(std::string_view root, std::string_view relative) {
    if (root.empty() && relative.empty()) return ".";
    std::string path(root);
    path.append(relative.substr(0, relative.empty() ? 0 : relative.size() - 1));
    return path;
}

// Where the outputs of the tree take their input from.
struct InputSide {
    Root root;
    bool same_root = false;       // both trees are one: one listing gives both
    bool lone_input = false;      // no wildcards: one file serves every output
    std::vector<std::string> lone_input_names;  // what that name listed
};

void plan_outputs(std::vector<std::string>& output_names, const std::string& output_folder,
                  const std::vector<std::string>& input_names, const std::string& input_folder, const InputSide& side,
                  std::vector<PlanEntry>& entries) {
    InputIndex index = index_inputs(input_names, side.lone_input);
    for (std::string& name : output_names) {
        PlanEntry& entry = entries.emplace_back();
        entry.path.assign(output_folder).append(name);
        std::string().swap(name);
        InputMatch match = find_input(index, entry.path);
        if (match.matches == Matches::one) {
            entry.input_path.assign(input_folder).append(input_names[match.input]);
        } else {
            entry.step = match.matches == Matches::none ? Step::no_matching_input : Step::multiple_matching_inputs;
        }
    }
}

// What the walk has found so far.
struct Found {
    bool inputs = false;
    bool outputs = false;
};

// What one folder of the output tree gives the plan.
struct FolderPlan {
    std::vector<PlanEntry> entries;  // its outputs, or the folder that could not be read
    std::vector<std::string> subfolders;
    platform::FileIdentity identity;  // all zero when not known
    Found found;
};

// The two trees of a run.
struct Trees {
    Root outputs;
    InputSide inputs;
};

// Lists one folder of the output tree (and the input tree's folder at the
// same relative path) and plans its outputs. A folder that `seen` already
// says is met elsewhere gives nothing.
FolderPlan plan_folder(const Trees& trees, const std::string& relative,
                       const std::function<bool(const platform::FileIdentity&)>& seen) {
    FolderPlan folder;
    const InputSide& side = trees.inputs;
    std::string output_folder = std::string(trees.outputs.folder) + relative;
    std::string_view also_inputs = side.same_root && !side.lone_input ? side.root.pattern : std::string_view();
    platform::FolderListing outputs = platform::list_folder(output_folder, trees.outputs.pattern, also_inputs, true);
    if (outputs.state == platform::FolderState::unreadable) {
        folder.entries.push_back({Step::unreadable_folder, folder_path(trees.outputs.folder, relative), {}});
    }
    if (outputs.state != platform::FolderState::listed) return folder;
    folder.identity = outputs.identity;
    if (outputs.identity != platform::FileIdentity{} && seen(outputs.identity)) return folder;
    folder.subfolders = std::move(outputs.folders);
    if (outputs.first.empty()) return folder;
    folder.found.outputs = true;

    std::string input_folder = std::string(side.root.folder) + (side.lone_input ? "" : relative);
    platform::FolderListing inputs;
    if (side.lone_input) {
        inputs.first = side.lone_input_names;
    } else if (side.same_root) {
        inputs.first = std::move(outputs.second);
    } else {
        inputs = platform::list_folder(input_folder, side.root.pattern);
        if (inputs.state == platform::FolderState::unreadable) {
            // in place of the folder's outputs, once
            folder.entries.push_back({Step::unreadable_folder, folder_path(side.root.folder, relative), {}});
            return folder;
        }
    }
    folder.found.inputs = !inputs.first.empty();
    plan_outputs(outputs.first, output_folder, inputs.first, input_folder, side, folder.entries);
    return folder;
}

// The walk so far, in walk order: the entries planned, what was found, the
// folders met, and the folders still to walk (the next one last).
struct Walk {
    Plan plan;
    Found found;
    std::set<platform::FileIdentity> visited;
    std::vector<std::string> pending{std::string()};

    // Takes a folder's plan in walk order: its entries, then its subfolders next.
    void take(FolderPlan& folder, const std::string& relative) {
        found.inputs = found.inputs || folder.found.inputs;
        found.outputs = found.outputs || folder.found.outputs;
        for (PlanEntry& entry : folder.entries) plan.entries.push_back(std::move(entry));
        for (auto name = folder.subfolders.rbegin(); name != folder.subfolders.rend(); ++name) {
            pending.push_back(relative + *name + platform::kPathSeparator);
        }
    }
};

// Several folders listed at once, for cold caches and network shares where
// each listing waits for the disk or a round trip. Each pending folder is
// the root of a subtree that workers list in any order; the plans are then
// taken in walk order, so the plan is the one a walk of one folder at a time
// makes: a folder met a second time is left out there, and a subtree is not
// walked into a folder it lies in (the walk would never end).
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
                listers.nodes.push_back({relative + name + platform::kPathSeparator, ancestors, {}, {}});
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

}  // namespace

Plan plan_tree_run(const Specifications& specifications) {
    Trees trees;
    trees.outputs = root_of(specifications.output);
    InputSide& side = trees.inputs;
    side.root = root_of(specifications.input);
    side.same_root = side.root.folder == trees.outputs.folder;
    side.lone_input = !has_wildcards(specifications.input);
    Walk walk;
    if (side.lone_input) {
        side.lone_input_names = platform::list_folder(side.root.folder, side.root.pattern).first;
        if (side.lone_input_names.empty()) {
            walk.plan.unmatched = Unmatched::inputs;
            return std::move(walk.plan);
        }
        walk.found.inputs = true;
    }
    // Depth first, each folder before its subfolders, one folder at a time
    // while listings are quick; with listers for the rest once they are slow.
    Jobs jobs = jobs_asked();
    StepClock clock;
    while (!walk.pending.empty()) {
        if (jobs.most > 1 && (jobs.from_the_start || clock.slow_now())) {
            walk_with_listers(trees, jobs.most, walk);
            break;
        }
        std::string relative = std::move(walk.pending.back());
        walk.pending.pop_back();
        FolderPlan folder = plan_folder(trees, relative, [&](const platform::FileIdentity& identity) {
            return !walk.visited.insert(identity).second;
        });
        walk.take(folder, relative);
    }
    // Over a tree, a specification that matched nothing is told outputs
    // first: inputs are looked for only where there are outputs.
    if (!walk.found.outputs) {
        walk.plan.unmatched = Unmatched::outputs;
    } else if (!walk.found.inputs) {
        walk.plan.unmatched = Unmatched::inputs;
    }
    return std::move(walk.plan);
}

}  // namespace kestrane
