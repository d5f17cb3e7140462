// Pairing every output file with the one input whose tag it receives.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrane {

// How many inputs an output's name selects.
enum class Matches { none, one, several };

// The inputs an output's name selects and, when there is exactly one, its
// position in the input list.
struct InputMatch {
    Matches matches = Matches::none;
    std::size_t input = 0;
};

// The input names indexed by base-name key, so that finding an output's
// input costs the same however many inputs there are.
struct InputIndex {
    bool lone_input_serves_all = false;
    std::unordered_map<std::string, InputMatch> by_key;
    // For each input, the position of the first input of its base name,
    // which a match gives whether it selects one input or several.
    std::vector<std::size_t> first_of_its_name;
};

// With lone_input_serves_all, a single input serves every output whatever
// its name (a run over one folder); otherwise, as in every folder of a
// tree, an output takes the input of its base name.
InputIndex index_inputs(const std::vector<std::string>& input_names, bool lone_input_serves_all = true);

// The inputs whose base name matches the output's are the candidates.
InputMatch find_input(const InputIndex& index, std::string_view output_path);

}  // namespace kestrane
