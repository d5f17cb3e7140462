#include <unordered_set>

#include "names/name_rules.h"
#include "cli/plan.h"
#include "cli/progress.h"
#include "cli/tree_walk.h"
#include "cli/workers.h"
#include "names/path_facts.h"
#include "platform/listing.h"

namespace kestrane {
namespace tree {
namespace {

// A folder's path as reported: the root as typed and the relative folder,
// without its last separator ("." for the current folder).
std::string folder_path(std::string_view root, std::string_view relative) {
    if (root.empty() && relative.empty()) return ".";
    std::string path(root);
    path.append(relative.substr(0, relative.empty() ? 0 : relative.size() - 1));
    return path;
}

// The input tree's subfolders that the output tree's folder lacks.
std::vector<std::string> without_counterpart(std::vector<std::string>& input_folders,
                                             const std::vector<std::string>& output_folders) {
    std::vector<std::string> lacking;
    if (input_folders.empty()) return lacking;
    std::unordered_set<std::string> output_keys;
    for (const std::string& name : output_folders) output_keys.insert(platform::entry_name_key(name));
    for (std::string& name : input_folders) {
        if (!output_keys.contains(platform::entry_name_key(name))) lacking.push_back(std::move(name));
    }
    return lacking;
}

}  // namespace

FolderPlan plan_folder(const Trees& trees, const std::string& relative,
                       const std::function<bool(const platform::FileIdentity&)>& seen) {
    FolderPlan folder;
    const InputSide& side = trees.inputs;
    std::string output_folder = std::string(trees.outputs.folder) + relative;
    std::string_view also_inputs = side.same_root && !side.lone_input ? side.root.pattern : std::string_view();
    platform::FolderListing outputs = platform::list_folder(output_folder, trees.outputs.pattern, also_inputs, true);
    if (outputs.state == platform::FolderState::unreadable) {
        folder.entries.push_back({EntryKind::unreadable_folder, {}, folder_path(trees.outputs.folder, relative), {}});
    }
    if (outputs.state != platform::FolderState::listed) return folder;
    folder.identity = outputs.identity;
    if (outputs.identity != platform::FileIdentity{} && seen(outputs.identity)) return folder;
    folder.subfolders = std::move(outputs.folders);
    folder.found.outputs = !outputs.first.empty();
    if (side.lone_input && outputs.first.empty()) return folder;

    // The input tree's folder here, listed whether or not this one holds
    // outputs: its subfolders that the output tree lacks are walked for
    // their unused inputs.
    std::string input_folder = std::string(side.root.folder) + (side.lone_input ? "" : relative);
    platform::FolderListing inputs;
    if (side.lone_input) {
        inputs.first = side.lone_input_names;
    } else if (side.same_root) {
        inputs.first = std::move(outputs.second);
    } else {
        inputs = platform::list_folder(input_folder, side.root.pattern, {}, true);
        if (inputs.state == platform::FolderState::unreadable && folder.found.outputs) {
            // in place of the folder's outputs, once
            folder.entries.push_back({EntryKind::unreadable_folder, {}, folder_path(side.root.folder, relative), {}});
        }
        if (inputs.state == platform::FolderState::unreadable) return folder;
        folder.inputs_only_subfolders = without_counterpart(inputs.folders, folder.subfolders);
    }
    folder.found.inputs = folder.found.outputs && !inputs.first.empty();
    folder.folders.push_back({output_folder, outputs.identity});
    if (!side.same_root || side.lone_input) {
        folder.folders.push_back({input_folder, side.lone_input ? side.lone_input_folder : inputs.identity});
    }
    plan_outputs(outputs.first, folder.folders, 0, inputs.first, side.same_root && !side.lone_input ? 0 : 1,
                 side.lone_input, folder.entries, folder.unused_inputs);
    return folder;
}

FolderPlan plan_inputs_only_folder(const Trees& trees, const std::string& relative,
                                   const std::function<bool(const platform::FileIdentity&)>& seen) {
    FolderPlan folder;
    std::string input_folder = std::string(trees.inputs.root.folder) + relative;
    platform::FolderListing inputs = platform::list_folder(input_folder, trees.inputs.root.pattern, {}, true);
    if (inputs.state != platform::FolderState::listed) return folder;
    folder.identity = inputs.identity;
    if (inputs.identity != platform::FileIdentity{} && seen(inputs.identity)) return folder;
    for (const std::string& name : inputs.first) folder.unused_inputs.push_back(input_folder + name);
    folder.inputs_only_subfolders = std::move(inputs.folders);
    return folder;
}

void Walk::take(FolderPlan& folder, const PendingFolder& pending_folder) {
    ++folders_listed;
    found.inputs = found.inputs || folder.found.inputs;
    found.outputs = found.outputs || folder.found.outputs;
    auto offset = static_cast<std::uint32_t>(plan.folders.size());
    for (PlanFolder& listed : folder.folders) plan.folders.push_back(std::move(listed));
    for (PlanEntry& entry : folder.entries) {
        if (entry.output_folder != kNoFolder) entry.output_folder += offset;
        if (entry.input_folder != kNoFolder) entry.input_folder += offset;
        plan.entries.push_back(std::move(entry));
    }
    for (std::string& path : folder.unused_inputs) plan.unused_inputs.push_back(std::move(path));
    const std::string& relative = pending_folder.relative;
    for (auto name = folder.inputs_only_subfolders.rbegin(); name != folder.inputs_only_subfolders.rend(); ++name) {
        pending.push_back({relative + *name + kPathSeparator, true});
    }
    for (auto name = folder.subfolders.rbegin(); name != folder.subfolders.rend(); ++name) {
        pending.push_back({relative + *name + kPathSeparator, false});
    }
}

}  // namespace tree

Plan plan_tree_run(const Specifications& specifications, Workers& workers) {
    using namespace tree;
    Trees trees;
    trees.outputs = split_specification(specifications.output);
    InputSide& side = trees.inputs;
    side.root = split_specification(specifications.input);
    side.same_root = side.root.folder == trees.outputs.folder;
    side.lone_input = !has_wildcards(specifications.input);
    Walk walk;
    if (side.lone_input) {
        platform::FolderListing lone = platform::list_folder(side.root.folder, side.root.pattern);
        side.lone_input_names = std::move(lone.first);
        side.lone_input_folder = lone.identity;
        if (side.lone_input_names.empty()) {
            end_with_nothing_matched(walk.plan, Side::inputs, specifications);
            return std::move(walk.plan);
        }
        walk.found.inputs = true;
    }
    // Depth first, each folder before its subfolders, one folder at a time
    // while listings are quick; with listers for the rest once they are slow.
    while (!walk.pending.empty()) {
        if (WorkerPool* pool = workers.before_step()) {
            walk_with_listers(trees, *pool, walk);
            break;
        }
        PendingFolder next = std::move(walk.pending.back());
        walk.pending.pop_back();
        auto& visited = next.inputs_only ? walk.visited_inputs_only : walk.visited;
        auto seen = [&](const platform::FileIdentity& identity) { return !visited.insert(identity).second; };
        FolderPlan folder =
            next.inputs_only ? plan_inputs_only_folder(trees, next.relative, seen) : plan_folder(trees, next.relative, seen);
        walk.take(folder, next);
        if (progress::due()) progress::draw_listing(walk.folders_listed, walk.plan.entries.size());
    }
    // Over a tree, a specification that matched nothing is told outputs
    // first: inputs are looked for only where there are outputs.
    if (!walk.found.outputs) {
        end_with_nothing_matched(walk.plan, Side::outputs, specifications);
    } else if (!walk.found.inputs) {
        end_with_nothing_matched(walk.plan, Side::inputs, specifications);
    }
    return std::move(walk.plan);
}

}  // namespace kestrane
