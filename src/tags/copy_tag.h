// One transfer: the tag that ends an input file put at the end of an output file.
#pragma once

#include <map>
#include <string>

#include "platform/files.h"
#include "tags/tag_record.h"
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

// The tag a dry run would have left at the end of each file it would have
// written, by the file's identity. A later name of the same file (a hard
// link, a symbolic link, another path to it), as an output or an input, is
// then judged by what the real run would find there, not by what the file
// still holds.
using WouldBeWritten = std::map<platform::FileIdentity, TagFingerprint>;

// Copies the input's tag onto the output as the options allow and says what
// happened; prints nothing. A failed write is undone: the output gets back
// its previous length and last bytes. A dry run opens and reads both files
// exactly as a real run does and changes neither; given would_be_written,
// it consults and adds to it.
CopyOutcome copy_tag(const std::string& input_path, const std::string& output_path, TransferOptions options,
                     WouldBeWritten* would_be_written = nullptr);

}  // namespace kestrane
