#include <set>

#include "cli/name_rules.h"
#include "cli/pairing.h"
#include "cli/plan.h"
#include "platform/facts.h"
#include "platform/listing.h"

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
                  Plan& plan) {
    InputIndex index = index_inputs(input_names, side.lone_input);
    for (std::string& name : output_names) {
        PlanEntry& entry = plan.entries.emplace_back();
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

// Lists one folder of the output tree (and the input tree's folder at the
// same relative path) and plans its outputs; gives its subfolders.
std::vector<std::string> plan_folder(const Root& outputs_root, const InputSide& side, const std::string& relative,
                                     std::set<platform::FileIdentity>& visited, Found& found, Plan& plan) {
    std::string output_folder = std::string(outputs_root.folder) + relative;
    std::string_view also_inputs = side.same_root && !side.lone_input ? side.root.pattern : std::string_view();
    platform::FolderListing outputs = platform::list_folder(output_folder, outputs_root.pattern, also_inputs, true);
    if (outputs.state == platform::FolderState::unreadable) {
        plan.entries.push_back({Step::unreadable_folder, folder_path(outputs_root.folder, relative), {}});
    }
    if (outputs.state != platform::FolderState::listed) return {};
    if (outputs.identity != platform::FileIdentity{} && !visited.insert(outputs.identity).second) return {};
    if (outputs.first.empty()) return std::move(outputs.folders);
    found.outputs = true;

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
            plan.entries.push_back({Step::unreadable_folder, folder_path(side.root.folder, relative), {}});
            return std::move(outputs.folders);
        }
    }
    found.inputs = found.inputs || !inputs.first.empty();
    plan_outputs(outputs.first, output_folder, inputs.first, input_folder, side, plan);
    return std::move(outputs.folders);
}

}  // namespace

Plan plan_tree_run(const Specifications& specifications) {
    Root outputs_root = root_of(specifications.output);
    InputSide side;
    side.root = root_of(specifications.input);
    side.same_root = side.root.folder == outputs_root.folder;
    side.lone_input = !has_wildcards(specifications.input);
    Plan plan;
    Found found;
    if (side.lone_input) {
        side.lone_input_names = platform::list_folder(side.root.folder, side.root.pattern).first;
        found.inputs = !side.lone_input_names.empty();
        if (!found.inputs) {
            plan.unmatched = Unmatched::inputs;
            return plan;
        }
    }
    // Depth first, each folder before its subfolders: the next folder to
    // plan is the last one pending, and a folder's subfolders are pushed in
    // reverse so that the first of them comes next.
    std::set<platform::FileIdentity> visited;
    std::vector<std::string> pending{std::string()};
    while (!pending.empty()) {
        std::string relative = std::move(pending.back());
        pending.pop_back();
        std::vector<std::string> subfolders = plan_folder(outputs_root, side, relative, visited, found, plan);
        for (auto folder = subfolders.rbegin(); folder != subfolders.rend(); ++folder) {
            pending.push_back(relative + *folder + platform::kPathSeparator);
        }
    }
    // Over a tree, a specification that matched nothing is told outputs
    // first: inputs are looked for only where there are outputs.
    if (!found.outputs) {
        plan.unmatched = Unmatched::outputs;
    } else if (!found.inputs) {
        plan.unmatched = Unmatched::inputs;
    }
    return plan;
}

}  // namespace kestrane
