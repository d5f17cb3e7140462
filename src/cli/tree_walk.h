// Walking a folder tree for a plan: the two trees, what one folder of the
// output tree gives, and the walk so far, shared by the walk one folder at a
// time (plan_tree.cpp) and the listers that list several at once
// (tree_listers.cpp).
#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/plan.h"
#include "cli/worker_pool.h"
#include "names/name_rules.h"
#include "platform/files.h"

namespace kestrane::tree {

// A specification split into the root of its tree, as typed, and the
// pattern its last component matches in every folder of it.
using Root = SplitSpecification;

// Where the outputs of the tree take their input from.
struct InputSide {
    Root root;
    bool same_root = false;   // both trees are one: one listing gives both
    bool lone_input = false;  // no wildcards: one file serves every output
    std::vector<std::string> lone_input_names;  // what that name listed
    platform::FileIdentity lone_input_folder;   // in which folder
};

struct Trees {
    Root outputs;
    InputSide inputs;
};

// What the walk has found so far.
struct Found {
    bool inputs = false;
    bool outputs = false;
};

// What one folder of the walk gives the plan.
struct FolderPlan {
    std::vector<PlanEntry> entries;  // its outputs, or the folder that could not be read
    std::vector<PlanFolder> folders;  // the two folders listed (one when they are one): the entries' own
    std::vector<std::string> unused_inputs;  // the paths of its inputs no output takes
    std::vector<std::string> subfolders;
    // The input tree's subfolders here that have no folder of the output
    // tree at the same relative path: their inputs are walked alone.
    std::vector<std::string> inputs_only_subfolders;
    platform::FileIdentity identity;  // all zero when not known
    Found found;
};

// Lists one folder of the output tree (and the input tree's folder at the
// same relative path, which ends with a separator unless it is the root)
// and plans its outputs. A folder that `seen` says is met elsewhere gives
// nothing.
FolderPlan plan_folder(const Trees& trees, const std::string& relative,
                       const std::function<bool(const platform::FileIdentity&)>& seen);

// Lists a folder of the input tree that has no folder of the output tree at
// its relative path: its inputs are unused, and so are those of all its
// subfolders (inputs_only_subfolders). A folder that can't be read is
// passed over, and one that `seen` says is met elsewhere gives nothing.
FolderPlan plan_inputs_only_folder(const Trees& trees, const std::string& relative,
                                   const std::function<bool(const platform::FileIdentity&)>& seen);

// A folder still to walk: its path relative to the roots, and whether only
// the input tree has it.
struct PendingFolder {
    std::string relative;
    bool inputs_only = false;
};

// The walk so far, in walk order: the entries planned, what was found, the
// folders met (of the output tree, and of the input tree's parts it lacks),
// and the folders still to walk (the next one last).
struct Walk {
    Plan plan;
    Found found;
    std::set<platform::FileIdentity> visited;
    std::set<platform::FileIdentity> visited_inputs_only;
    std::vector<PendingFolder> pending{PendingFolder{}};
    std::size_t folders_listed = 0;  // for the status line

    // Takes a folder's plan in walk order: its entries and unused inputs,
    // then its subfolders next, those the output tree has first.
    void take(FolderPlan& folder, const PendingFolder& pending_folder);
};

// Walks every pending folder's subtree with the pool's workers listing
// folders at once, and takes their plans in walk order. Throws
// std::bad_alloc when the workers run out of memory.
void walk_with_listers(const Trees& trees, WorkerPool& pool, Walk& walk);

}  // namespace kestrane::tree
