#include "names/name_rules.h"
#include "cli/plan.h"
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
            folder.entries.push_back({EntryKind::unreadable_folder, {}, folder_path(side.root.folder, relative), {}});
            return folder;
        }
    }
    folder.found.inputs = !inputs.first.empty();
    plan_outputs(outputs.first, output_folder, inputs.first, input_folder, side.lone_input, folder.entries);
    return folder;
}

void Walk::take(FolderPlan& folder, const std::string& relative) {
    found.inputs = found.inputs || folder.found.inputs;
    found.outputs = found.outputs || folder.found.outputs;
    for (PlanEntry& entry : folder.entries) plan.entries.push_back(std::move(entry));
    for (auto name = folder.subfolders.rbegin(); name != folder.subfolders.rend(); ++name) {
        pending.push_back(relative + *name + kPathSeparator);
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
        side.lone_input_names = platform::list_folder(side.root.folder, side.root.pattern).first;
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
        end_with_nothing_matched(walk.plan, Side::outputs, specifications);
    } else if (!walk.found.inputs) {
        end_with_nothing_matched(walk.plan, Side::inputs, specifications);
    }
    return std::move(walk.plan);
}

}  // namespace kestrane
