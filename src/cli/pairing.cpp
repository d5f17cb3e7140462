#include "cli/pairing.h"

#include "names/name_rules.h"

namespace kestrane {

InputIndex index_inputs(const std::vector<std::string>& input_names, bool lone_input_serves_all) {
    InputIndex index;
    index.lone_input_serves_all = lone_input_serves_all && input_names.size() == 1;
    index.first_of_its_name.reserve(input_names.size());
    if (index.lone_input_serves_all) {
        index.first_of_its_name.push_back(0);
        return index;
    }
    index.by_key.reserve(input_names.size());
    for (std::size_t i = 0; i < input_names.size(); ++i) {
        InputMatch& match = index.by_key[base_name_key(input_names[i])];
        if (match.matches == Matches::none) {
            match = {Matches::one, i};
        } else {
            match.matches = Matches::several;
        }
        index.first_of_its_name.push_back(match.input);
    }
    return index;
}

InputMatch find_input(const InputIndex& index, std::string_view output_path) {
    if (index.lone_input_serves_all) return InputMatch{Matches::one, 0};
    auto found = index.by_key.find(base_name_key(output_path));
    return found == index.by_key.end() ? InputMatch{} : found->second;
}

}  // namespace kestrane
