// What a run may do to its outputs, chosen on the command line.
#pragma once

namespace kestrane {

// Which of the two ways of placing a tag a run allows.
enum class TransferMode {
    update_or_append,  // replace an existing tag, else add one
    append_only,       // refuse outputs that already have a tag
    update_only,       // refuse outputs that have no tag
};

// The mode, and whether the run only says what it would do (a dry run):
// files are opened, checked and read as in a real run, but never changed.
struct TransferOptions {
    TransferMode mode = TransferMode::update_or_append;
    bool dry_run = false;
};

}  // namespace kestrane
