#include "tags/copy_tag.h"

#include <algorithm>
#include <optional>

#include "platform/files.h"
#include "platform/own_files.h"
#include "platform/signals.h"
#include "tags/change.h"
#include "tags/digest.h"
#include "tags/journal.h"
#include "tags/tag_io.h"

namespace kestrane {
namespace {

// Closes the file when the copy returns, on every path.
struct ClosesOnReturn {
    platform::OpenFile& file;
    ~ClosesOnReturn() { platform::close_file(file); }
};

// Writes the tag where the change says and, if that fails, puts the old
// end back (its holes as holes). The change is noted in the run's journal
// first, and shielded from the interrupt key, so no half-written file is
// left behind.
bool place_tag(const TagRecord& tag, const platform::OpenFile& output, const Change& change, Journal* journal) {
    Journal::Noted noted = journal != nullptr ? journal->note(change) : Journal::Noted::not_at_all;
    platform::begin_file_change();
    bool written = write_tag(tag, output, change.position);
    if (!written) put_back_old_end(output, change);
    platform::end_file_change();
    if (journal != nullptr) journal->made(noted);
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

// How many bytes in front of a change its note vouches for.
constexpr std::size_t kBytesVouchedFor = 512;

// The change a write of the tag at position makes to the output, its old
// block taken from the output's tag (none for an append).
Change change_of(const std::string& output_path, const platform::OpenFile& output, FoundTag& old_tag,
                 std::uint64_t position, const TagRecord& tag, bool journalled) {
    Change change;
    if (journalled) change.output_path = platform::absolute_path(output_path);
    change.identity = output.identity;
    change.old_length = output.length;
    change.position = position;
    change.old_block = std::move(old_tag.record.bytes);
    change.old_data = platform::data_in(output, position, output.length);
    change.new_length = position + tag.bytes.size();
    change.new_digest = digest_of(tag.bytes);
    // The bytes right in front of the change that the file's last bytes,
    // read already, hold: the same file has them there.
    std::uint64_t tail_start = output.length - old_tag.tail.length;
    std::span<const std::uint8_t> before;
    if (position >= tail_start) {
        std::size_t in_tail = static_cast<std::size_t>(position - tail_start);
        std::size_t vouched = std::min<std::size_t>(in_tail, kBytesVouchedFor);
        before = {old_tag.tail.bytes.data() + (in_tail - vouched), vouched};
    }
    change.before_length = before.size();
    change.before_digest = digest_of(before);
    return change;
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
    RoomTaken(const CopyContext& context, FoundTag& input_tag, FoundTag& output_tag)
        : room(context.room), first(input_tag), second(output_tag), bytes(first.place.length + second.place.length) {
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
    if (!platform::open_input_file(input_path, input, context.input_folder)) return Outcome::cant_open_input;
    ClosesOnReturn close_input{input};

    platform::OpenFile output;
    if (!platform::open_output_file(output_path, output, context.output_folder)) return Outcome::cant_open_output;
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
    std::uint64_t position = output_tagged ? output_tag.place.position : output.length;
    Change change = change_of(output_path, output, output_tag, position, input_tag.record, context.journal != nullptr);
    bool written = place_tag(input_tag.record, output, change, context.journal);
    if (output_tagged) return written ? Outcome::updated : Outcome::update_failed;
    return written ? Outcome::appended : Outcome::append_failed;
}

}  // namespace kestrane
