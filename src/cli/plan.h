// The plan of a run: every line its report will hold, decided from the
// listings before any file is opened.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane {

// What the run does for one line of its report.
enum class Step {
    copy,                      // the output takes the input's tag
    no_matching_input,         // no input has the output's base name
    multiple_matching_inputs,  // several have
    unreadable_folder,         // a folder, on either side, that could not be read
};

struct PlanEntry {
    Step step = Step::copy;
    std::string path;        // the output's path as reported; for a folder, the folder's
    std::string input_path;  // the input's path, for a copy
};

// A specification that matched no file at all, which ends the run: the
// report then says so after the unreadable folders, and has no other entry.
enum class Unmatched { none, inputs, outputs };

struct Plan {
    std::vector<PlanEntry> entries;  // in report order
    Unmatched unmatched = Unmatched::none;
};

// The two specifications, their default extension added.
struct Specifications {
    std::string input;
    std::string output;
};

// Plans the outputs listed in one folder, in listing order: each takes the
// input of its base name among input_names (or, with lone_input_serves_all,
// a single input whatever its name). The names are used up.
void plan_outputs(std::vector<std::string>& output_names, std::string_view output_folder,
                  const std::vector<std::string>& input_names, std::string_view input_folder,
                  bool lone_input_serves_all, std::vector<PlanEntry>& entries);

// One folder: every output the output specification lists, with the input
// of its base name (or the lone input, whatever its name).
Plan plan_folder_run(const Specifications& specifications);

// Folder trees: each specification's folder is the root of a tree whose
// every folder is matched by its last component; an output takes the input
// of its base name from the input tree's folder at the same relative path,
// or the one input when the input specification has no wildcards. The
// output tree is walked depth first, each folder's files before its
// subfolders, hidden folders and links to folders skipped.
Plan plan_tree_run(const Specifications& specifications);

}  // namespace kestrane
