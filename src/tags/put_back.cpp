#include "tags/put_back.h"

#include <algorithm>

#include "platform/holes.h"
#include "platform/signals.h"
#include "tags/digest.h"

namespace kestrane {
namespace {

// Closes the file when it goes, on every path.
struct Closes {
    platform::OpenFile& file;
    ~Closes() { platform::close_file(file); }
};

bool holds(const platform::OpenFile& file, std::uint64_t from, std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> found(bytes.size());
    return platform::read_at(file, from, found) && std::equal(found.begin(), found.end(), bytes.begin());
}

bool digest_matches(const platform::OpenFile& file, std::uint64_t from, std::uint64_t to, std::uint64_t digest) {
    std::vector<std::uint8_t> found(static_cast<std::size_t>(to - from));
    return platform::read_at(file, from, found) && digest_of(found) == digest;
}

// Writes the old end back, shielded from the interrupt key as every change is.
bool put_back(const platform::OpenFile& file, const Change& change) {
    platform::begin_file_change();
    bool put = put_back_old_end(file, change);
    platform::end_file_change();
    return put;
}

}  // namespace

EndHeld look_at_end(const Change& change, platform::OpenFile& file) {
    if (!platform::open_output_file(change.output_path, file)) {
        return platform::look_up_file(change.output_path) ? EndHeld::unreachable : EndHeld::gone;
    }
    bool same_file = file.identity.file == change.identity.file && file.length >= change.position &&
                     change.position >= change.before_length &&
                     digest_matches(file, change.position - change.before_length, change.position, change.before_digest);
    if (!same_file) return EndHeld::gone;
    if (file.length == change.old_length && holds(file, change.position, change.old_block)) return EndHeld::old_end;
    if (file.length == change.new_length && digest_matches(file, change.position, change.new_length, change.new_digest)) {
        return EndHeld::new_end;
    }
    return EndHeld::neither;
}

Recovery recover(const Change& change, bool dry_run) {
    platform::OpenFile file;
    Closes closes{file};
    switch (look_at_end(change, file)) {
        case EndHeld::old_end:
        case EndHeld::new_end:
            return {};
        case EndHeld::gone:
            return {Outcome::recovery_left_alone};
        case EndHeld::unreachable:
            return {Outcome::cant_open_output, true};
        case EndHeld::neither:
            break;
    }
    if (dry_run) return {Outcome::would_recover};
    return {put_back(file, change) ? Outcome::recovered : Outcome::put_back_failed};
}

std::optional<Outcome> undo(const Change& change, bool dry_run, Journal* journal) {
    platform::OpenFile file;
    Closes closes{file};
    switch (look_at_end(change, file)) {
        case EndHeld::old_end:
            return std::nullopt;
        case EndHeld::gone:
            return Outcome::gone_since;
        case EndHeld::unreachable:
            return Outcome::cant_open_output;
        case EndHeld::neither:
            return Outcome::changed_since;
        case EndHeld::new_end:
            break;
    }
    if (dry_run) return Outcome::would_undo;
    // Putting back is itself a change, from the new end to the old one.
    Change back = change;
    back.old_length = change.new_length;
    back.old_block.resize(static_cast<std::size_t>(change.new_length - change.position));
    if (!platform::read_at(file, change.position, back.old_block)) return Outcome::put_back_failed;
    back.old_data = platform::data_in(file, change.position, change.new_length);
    back.new_length = change.old_length;
    back.new_digest = digest_of(change.old_block);
    Journal::Noted noted = journal != nullptr ? journal->note(back) : Journal::Noted::not_at_all;
    bool put = put_back(file, change);
    if (journal != nullptr) journal->made(noted);
    return put ? Outcome::undone : Outcome::put_back_failed;
}

}  // namespace kestrane
