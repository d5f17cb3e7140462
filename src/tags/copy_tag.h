// One transfer: the tag that ends an input file put at the end of an output file.
#pragma once

#include <string>

#include "tags/copy_context.h"
#include "tags/transfer_mode.h"

namespace kestrane {

// What one transfer came to. The copy decides; the report says it.
enum class CopyOutcome {
    cant_open_input,        // missing, not a regular file, or held by another run
    cant_open_output,       // as for the input, or write protected, or the input itself
    input_has_no_tag,
    output_already_tagged,  // refused: append only
    output_has_no_tag,      // refused: update only
    update_failed,          // the write failed and was undone
    append_failed,          // the write failed and was undone
    updated,
    appended,
    up_to_date,             // the output ends in the very tag already: nothing written
    would_update,           // dry run: an update was allowed, nothing was written
    would_append,           // dry run: an append was allowed, nothing was written
};

// Copies the input's tag onto the output as the options allow and says what
// happened; prints nothing. A failed write is undone: the output gets back
// its previous length and last bytes. A dry run opens and reads both files
// exactly as a real run does and changes neither. Throws std::bad_alloc,
// before anything is written, when the tags do not fit in memory.
CopyOutcome copy_tag(const std::string& input_path, const std::string& output_path, TransferOptions options,
                     const CopyContext& context = {});

}  // namespace kestrane
