#include "tags/copy_tag.h"

#include "platform/platform.h"
#include "tags/tag_io.h"

namespace kestrane {
namespace {

// Closes the file when the copy returns, on every path.
struct ClosesOnReturn {
    platform::OpenFile& file;
    ~ClosesOnReturn() { platform::close_file(file); }
};

// Puts back what a failed write may have changed: the old tag's bytes (none
// for an append) from position on, and the old length.
void undo_failed_write(const platform::OpenFile& output, const TagRecord& old_tag, std::uint64_t position) {
    if (!old_tag.bytes.empty()) platform::write_at(output, position, old_tag.bytes);
    platform::set_file_length(output, output.length);
}

// Writes the tag at position and undoes the write if it fails. The change is
// shielded from the interrupt key so no half-written file is left behind.
bool place_tag(const TagRecord& tag, const platform::OpenFile& output, const TagRecord& old_tag,
               std::uint64_t position) {
    platform::begin_file_change();
    bool written = write_tag(tag, output, position);
    if (!written) undo_failed_write(output, old_tag, position);
    platform::end_file_change();
    return written;
}

}  // namespace

CopyOutcome copy_tag(const std::string& input_path, const std::string& output_path, TransferOptions options) {
    platform::OpenFile input;
    if (!platform::open_input_file(input_path, input)) return CopyOutcome::cant_open_input;
    ClosesOnReturn close_input{input};

    platform::OpenFile output;
    if (!platform::open_output_file(output_path, output)) return CopyOutcome::cant_open_output;
    ClosesOnReturn close_output{output};  // declared last, so closed first

    TagRecord input_tag;
    std::uint64_t input_position = 0;
    if (!read_tag(input_tag, input, input_position)) return CopyOutcome::input_has_no_tag;

    TagRecord output_tag;
    std::uint64_t output_position = 0;
    if (read_tag(output_tag, output, output_position)) {
        if (options.mode == TransferMode::append_only) return CopyOutcome::output_already_tagged;
        if (options.dry_run) return CopyOutcome::would_update;
        return place_tag(input_tag, output, output_tag, output_position) ? CopyOutcome::updated
                                                                          : CopyOutcome::update_failed;
    }

    if (options.mode == TransferMode::update_only) return CopyOutcome::output_has_no_tag;
    if (options.dry_run) return CopyOutcome::would_append;
    return place_tag(input_tag, output, output_tag, output.length) ? CopyOutcome::appended
                                                                    : CopyOutcome::append_failed;
}

}  // namespace kestrane
