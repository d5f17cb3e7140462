// One transfer: the tag that ends an input file put at the end of an output file.
#pragma once

#include <string>

namespace kestrane {

// Which of the two ways of placing a tag a run allows.
enum class TransferMode {
    update_or_append = 0,  // replace an existing tag, else add one
    append_only = 1,       // refuse outputs that already have a tag
    update_only = 2,       // refuse outputs that have no tag
};

enum class CopyResult { done = 0, not_done = 1 };

// Copies the input's tag onto the output as mode allows and prints the one
// line that says what happened. A failed write is undone: the output gets
// back its previous length and last bytes.
CopyResult copy_tag(const std::string& input_path, const std::string& output_path, TransferMode mode);

}  // namespace kestrane
