#include "cli/copy_pair.h"

#include <new>

#include "tags/copy_tag.h"

namespace kestrane {
namespace {

// Both folders taken for the copy, given back when it is done.
struct FoldersTaken {
    FoldersHeld* folders;
    const PairPaths& pair;
    FoldersHeld::Use input, output;
    FoldersTaken(FoldersHeld* held, const PairPaths& paths) : folders(held), pair(paths) {
        if (folders == nullptr) return;
        input = folders->take(pair.input_folder);
        output = folders->take(pair.output_folder);
    }
    ~FoldersTaken() {
        if (folders == nullptr) return;
        folders->give_back(pair.input_folder);
        folders->give_back(pair.output_folder);
    }
    FoldersTaken(const FoldersTaken&) = delete;
    FoldersTaken& operator=(const FoldersTaken&) = delete;
};

}  // namespace

Outcome copy_pair(const PairPaths& pair, PairContext& context) {
    FoldersTaken taken(context.folders, pair);
    if (!taken.input.listed) return Outcome::cant_open_input;
    if (!taken.output.listed) return Outcome::cant_open_output;
    CopyContext copy_context{&context.would_be_written, &context.room, false, context.journal, taken.input.folder,
                             taken.output.folder};
    try {
        return copy_tag(pair.input, pair.output, context.options, copy_context);
    } catch (const std::bad_alloc&) {
    }
    copy_context.alone = true;
    try {
        return copy_tag(pair.input, pair.output, context.options, copy_context);
    } catch (const std::bad_alloc&) {
        return Outcome::out_of_memory;
    }
}

}  // namespace kestrane
