// The plan of a run: every line its report will hold, decided from the
// listings before any file is opened.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "tags/outcome.h"

namespace kestrane {

enum class EntryKind {
    copy,               // the output takes the input's tag
    unpaired,           // the plan settled the output's outcome: no input, or several
    unreadable_folder,  // a folder, on either side, that could not be read
};

// A folder files of the plan were listed in: its path as typed (with its
// last separator; "" for the current folder), and which folder it was then
// (all zero when the platform can't tell). A pair's files are opened in
// the very folders their listing read.
struct PlanFolder {
    std::string path;
    platform::FileIdentity identity;
};
inline constexpr std::uint32_t kNoFolder = ~std::uint32_t{0};

struct PlanEntry {
    EntryKind kind = EntryKind::copy;
    Outcome outcome = Outcome::no_matching_input;  // for an unpaired output
    std::string path;        // the output's path as reported; for a folder, the folder's
    std::string input_path;  // the input's path, for a copy
    std::uint32_t output_folder = kNoFolder;  // in Plan::folders
    std::uint32_t input_folder = kNoFolder;
};

// The line that ends the report when a specification matched no file at
// all: "no input files found!", say, or "file %s not found!" with the
// specification as typed (its default extension added).
struct NothingMatched {
    const char* message;
    std::string specification;
};

struct Plan {
    // In report order. When a specification matched nothing, only the
    // folders that could not be read, which the report tells first.
    std::vector<PlanEntry> entries;
    std::vector<PlanFolder> folders;  // where the entries' files were listed
    std::optional<NothingMatched> nothing_matched;
    // The paths of the inputs no output takes, in the order listed.
    std::vector<std::string> unused_inputs;
};

// The two specifications, their default extension added.
struct Specifications {
    std::string input;
    std::string output;
};

// Says that one side's specification matched nothing, and leaves in the
// plan only the folders that could not be read.
enum class Side { inputs, outputs };
void end_with_nothing_matched(Plan& plan, Side side, const Specifications& specifications);

// Plans the outputs listed in one folder, in listing order: each takes the
// input of its base name among input_names (or, with lone_input_serves_all,
// a single input whatever its name). The names are used up. The inputs no
// output's name selects go to unused_inputs; inputs that share a base name
// some output has count as taken, though that output gets none of them
// ("multiple matching input files!" already tells of them).
// The two folders are the listing's, given by their places in folders.
void plan_outputs(std::vector<std::string>& output_names, const std::vector<PlanFolder>& folders,
                  std::uint32_t output_folder, const std::vector<std::string>& input_names, std::uint32_t input_folder,
                  bool lone_input_serves_all, std::vector<PlanEntry>& entries,
                  std::vector<std::string>& unused_inputs);

// One folder: every output the output specification lists, with the input
// of its base name (or the lone input, whatever its name).
Plan plan_folder_run(const Specifications& specifications);

// Folder trees: each specification's folder is the root of a tree whose
// every folder is matched by its last component; an output takes the input
// of its base name from the input tree's folder at the same relative path,
// or the one input when the input specification has no wildcards. The
// output tree is walked depth first, each folder's files before its
// subfolders, hidden folders and links to folders skipped.
// Once listings turn out slow, the workers list several folders at once.
class Workers;
Plan plan_tree_run(const Specifications& specifications, Workers& workers);

}  // namespace kestrane
