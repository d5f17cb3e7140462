#include <algorithm>

#include "cli/messages.h"
#include "cli/pairing.h"
#include "cli/plan.h"
#include "names/name_rules.h"
#include "platform/listing.h"

namespace kestrane {

void end_with_nothing_matched(Plan& plan, Side side, const Specifications& specifications) {
    const std::string& specification = side == Side::inputs ? specifications.input : specifications.output;
    if (has_wildcards(specification)) {
        plan.nothing_matched = {side == Side::inputs ? messages::kNoInputFiles : messages::kNoOutputFiles, {}};
    } else {
        plan.nothing_matched = {messages::kFileNotFound, specification};
    }
    std::erase_if(plan.entries, [](const PlanEntry& entry) { return entry.kind != EntryKind::unreadable_folder; });
    plan.unused_inputs.clear();
}

void plan_outputs(std::vector<std::string>& output_names, const std::vector<PlanFolder>& folders,
                  std::uint32_t output_folder_index, const std::vector<std::string>& input_names,
                  std::uint32_t input_folder_index, bool lone_input_serves_all, std::vector<PlanEntry>& entries,
                  std::vector<std::string>& unused_inputs) {
    std::string_view output_folder = folders[output_folder_index].path;
    std::string_view input_folder = folders[input_folder_index].path;
    InputIndex index = index_inputs(input_names, lone_input_serves_all);
    std::vector<bool> taken(input_names.size());  // by the first input of each base name
    entries.reserve(entries.size() + output_names.size());
    for (std::string& name : output_names) {
        PlanEntry& entry = entries.emplace_back();
        entry.path.assign(output_folder).append(name);
        std::string().swap(name);  // done with the listed name
        InputMatch match = find_input(index, entry.path);
        if (match.matches != Matches::none) taken[match.input] = true;
        entry.output_folder = output_folder_index;
        if (match.matches == Matches::one) {
            entry.input_path.assign(input_folder).append(input_names[match.input]);
            entry.input_folder = input_folder_index;
        } else {
            entry.kind = EntryKind::unpaired;
            entry.outcome = match.matches == Matches::none ? Outcome::no_matching_input : Outcome::multiple_matching_inputs;
        }
    }
    for (std::size_t i = 0; i < input_names.size(); ++i) {
        if (!taken[index.first_of_its_name[i]]) unused_inputs.push_back(std::string(input_folder) + input_names[i]);
    }
}

// Both lists are made before the plan; a folder both specifications name
// is read once.
Plan plan_folder_run(const Specifications& specifications) {
    auto [input_folder, input_pattern] = split_specification(specifications.input);
    auto [output_folder, output_pattern] = split_specification(specifications.output);
    platform::FolderListing inputs, outputs;
    if (input_folder == output_folder) {
        inputs = platform::list_folder(input_folder, input_pattern, output_pattern);
        outputs.first = std::move(inputs.second);
    } else {
        inputs = platform::list_folder(input_folder, input_pattern);
        outputs = platform::list_folder(output_folder, output_pattern);
    }

    Plan plan;
    if (inputs.first.empty() || outputs.first.empty()) {
        end_with_nothing_matched(plan, inputs.first.empty() ? Side::inputs : Side::outputs, specifications);
        return plan;
    }
    plan.folders.push_back({std::string(input_folder), inputs.identity});
    std::uint32_t output_index = 0;
    if (input_folder != output_folder) {
        plan.folders.push_back({std::string(output_folder), outputs.identity});
        output_index = 1;
    }
    plan_outputs(outputs.first, plan.folders, output_index, inputs.first, 0, true, plan.entries, plan.unused_inputs);
    return plan;
}

}  // namespace kestrane
