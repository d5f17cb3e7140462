// One transfer: the tag that ends an input file put at the end of an output file.
#pragma once

#include <string>

#include "tags/copy_context.h"
#include "tags/outcome.h"
#include "tags/transfer_mode.h"

namespace kestrane {

// Copies the input's tag onto the output as the options allow and says what
// happened (one of the copy's outcomes); prints nothing. A failed write is undone: the output gets back
// its previous length and last bytes. A dry run opens and reads both files
// exactly as a real run does and changes neither. Throws std::bad_alloc,
// before anything is written, when the tags do not fit in memory.
Outcome copy_tag(const std::string& input_path, const std::string& output_path, TransferOptions options,
                     const CopyContext& context = {});

}  // namespace kestrane
