#include "tags/copy_tag.h"

#include <optional>

#include "platform/files.h"
#include "platform/signals.h"
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

// A file's tag as the copy finds it: in the file or, in a dry run, as an
// earlier pair would have left it.
struct FoundTag {
    FileTail tail;
    TagPlace place;
    TagRecord record;  // loaded once there is room for it
    std::optional<TagFingerprint> remembered;
    bool present() const { return remembered || place.kind != TagKind::none; }
};

void find_tag(FoundTag& tag, const platform::OpenFile& file, const WouldBeWritten* would_be_written) {
    if (would_be_written != nullptr && (tag.remembered = would_be_written->find(file.identity))) return;
    locate_tag(file, tag.tail, tag.place);
}

TagFingerprint fingerprint_of(const FoundTag& tag) { return tag.remembered ? *tag.remembered : fingerprint_of(tag.record); }

// Whether two tags are byte for byte the same (by their fingerprints where a
// dry run remembers one).
bool same_tag(const FoundTag& first, const FoundTag& second) {
    if (!first.remembered && !second.remembered) {
        return first.record.kind == second.record.kind && first.record.bytes == second.record.bytes;
    }
    return fingerprint_of(first) == fingerprint_of(second);
}

// Room for the two tags while the copy holds them. The tags are freed
// before the room is given back (the copy's locals would outlive it), so
// that the tags in flight never hold more than the room.
struct RoomTaken {
    TagRoom* room;
    FoundTag& first;
    FoundTag& second;
    std::uint64_t bytes;
    RoomTaken(const CopyContext& context, FoundTag& first, FoundTag& second)
        : room(context.room), first(first), second(second), bytes(first.place.length + second.place.length) {
        if (room != nullptr) room->take(bytes, context.alone);
    }
    ~RoomTaken() {
        first.record = {};
        second.record = {};
        if (room != nullptr) room->give_back(bytes);
    }
    RoomTaken(const RoomTaken&) = delete;
    RoomTaken& operator=(const RoomTaken&) = delete;
};

}  // namespace

Outcome copy_tag(const std::string& input_path, const std::string& output_path, TransferOptions options,
                     const CopyContext& context) {
    platform::OpenFile input;
    if (!platform::open_input_file(input_path, input)) return Outcome::cant_open_input;
    ClosesOnReturn close_input{input};

    platform::OpenFile output;
    if (!platform::open_output_file(output_path, output)) return Outcome::cant_open_output;
    ClosesOnReturn close_output{output};  // declared last, so closed first

    const WouldBeWritten* remembered = options.dry_run ? context.would_be_written : nullptr;
    FoundTag input_tag, output_tag;
    find_tag(input_tag, input, remembered);
    if (!input_tag.present()) return Outcome::input_has_no_tag;
    find_tag(output_tag, output, remembered);
    RoomTaken room(context, input_tag, output_tag);
    if (!input_tag.remembered && !load_tag(input, input_tag.tail, input_tag.place, input_tag.record)) {
        return Outcome::input_has_no_tag;
    }
    bool output_tagged = output_tag.remembered ||
                         (output_tag.place.kind != TagKind::none &&
                          load_tag(output, output_tag.tail, output_tag.place, output_tag.record));

    if (output_tagged && options.mode == TransferMode::append_only) return Outcome::output_already_tagged;
    if (!output_tagged && options.mode == TransferMode::update_only) return Outcome::output_has_no_tag;
    // A tag found at the end of a file ends it, so an output whose tag is the
    // input's is already as the copy would leave it.
    if (output_tagged && same_tag(input_tag, output_tag)) return Outcome::up_to_date;
    if (options.dry_run) {
        if (context.would_be_written != nullptr) {
            context.would_be_written->remember(output.identity, fingerprint_of(input_tag));
        }
        return output_tagged ? Outcome::would_update : Outcome::would_append;
    }
    if (output_tagged) {
        return place_tag(input_tag.record, output, output_tag.record, output_tag.place.position)
                   ? Outcome::updated
                   : Outcome::update_failed;
    }
    return place_tag(input_tag.record, output, output_tag.record, output.length) ? Outcome::appended
                                                                                  : Outcome::append_failed;
}

}  // namespace kestrane
