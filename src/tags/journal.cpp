#include "tags/journal.h"

#include <algorithm>
#include <vector>

#include "platform/own_files.h"

namespace kestrane {
namespace {

// A note this small is gathered into one write.
constexpr std::uint64_t kOneWrite = 64 << 10;

// Writes the pieces one after the other at end, and moves end past them.
bool append(const platform::OpenFile& file, std::uint64_t& end, const EncodedChange& encoded) {
    if (encoded.size() <= kOneWrite) {
        std::vector<std::uint8_t> whole(encoded.head);
        for (auto piece : encoded.data) whole.insert(whole.end(), piece.begin(), piece.end());
        whole.insert(whole.end(), encoded.tail.begin(), encoded.tail.end());
        if (!platform::write_at(file, end, whole)) return false;
        end += whole.size();
        return true;
    }
    std::uint64_t at = end;
    bool written = platform::write_at(file, at, encoded.head);
    at += encoded.head.size();
    for (auto piece : encoded.data) {
        written = written && platform::write_at(file, at, piece);
        at += piece.size();
    }
    written = written && platform::write_at(file, at, encoded.tail);
    if (written) end = at + encoded.tail.size();
    return written;
}

}  // namespace

Journal::Journal(Settings settings) : settings_(std::move(settings)) {}

// Notes are copied into mapped room this big at a time (a write each where
// there is none); a note bigger than a quarter of it is written.
constexpr std::uint64_t kRoomAtATime = 1 << 20;

// Copies the note into the room at the journal's end, mapping more when it
// is used up: no call a note, and what is copied outlives the process as a
// write would. Not with --sync, whose notes are written and synced.
bool Journal::copy_into_room(const EncodedChange& encoded) {
    std::uint64_t size = encoded.size();
    if (no_room_ || settings_.durable || size > kRoomAtATime / 4) return false;
    if (room_.bytes == nullptr || end_ + size > room_.from + room_.length) {
        platform::unmap_room(room_);
        if (!platform::map_room(file_, end_, kRoomAtATime, room_)) {
            no_room_ = true;
            return false;
        }
    }
    std::uint8_t* at = room_.bytes + (end_ - room_.from);
    auto copy = [&](std::span<const std::uint8_t> piece) { at = std::copy(piece.begin(), piece.end(), at); };
    copy(encoded.head);
    for (auto piece : encoded.data) copy(piece);
    copy(encoded.tail);
    end_ += size;
    return true;
}

Journal::~Journal() {
    platform::unmap_room(room_);
    platform::close_file(file_);
    platform::close_file(overflow_);
}

// Made with the first change; the header reaches the disk before any note
// does, and the folder's list of names with it, when durable.
bool Journal::open_files() {
    tried_ = true;
    if (settings_.folder.empty()) return false;
    path_ = settings_.folder + journal_name(settings_.header);
    if (!platform::create_new_file(path_, file_)) return false;
    std::vector<std::uint8_t> header = encode_header(settings_.header);
    if (!platform::write_at(file_, 0, header)) {
        platform::close_file(file_);
        platform::remove_file(path_);
        return false;
    }
    end_ = header.size();
    if (settings_.durable) {
        platform::sync_file(file_);
        platform::sync_folder(settings_.folder);
    }
    return true;
}

Journal::Noted Journal::note(const Change& change) {
    EncodedChange encoded = encode(change);
    std::unique_lock lock(mutex_);
    if (!tried_ && !open_files()) lost_ = true;
    if (file_.handle < 0 || lost_) {
        lost_ = true;
        return Noted::not_at_all;
    }
    // Past the bound, notes go to a file of their own, emptied whenever no
    // change noted there is still to be made.
    bool keep = end_ + encoded.size() <= kJournalBound;
    if (!keep && overflow_.handle < 0) {
        std::string overflow_path = path_ + std::string(kOverflow);
        platform::remove_file(overflow_path);  // left by nothing but a crash of this very process number
        if (!platform::create_new_file(overflow_path, overflow_)) {
            lost_ = true;
            return Noted::not_at_all;
        }
    }
    overflowed_ = overflowed_ || !keep;
    bool written = keep ? copy_into_room(encoded) || append(file_, end_, encoded)
                        : append(overflow_, overflow_end_, encoded);
    if (!written) {
        lost_ = true;
        return Noted::not_at_all;
    }
    if (!keep) ++overflow_in_flight_;
    if (!settings_.durable) return keep ? Noted::kept : Noted::until_made;
    to_sync_.try_emplace(change.identity, change.output_path);
    if (settings_.durable) make_durable(lock, ++written_);
    return keep ? Noted::kept : Noted::until_made;
}

// Group commit: one sync covers every note written before it began, so
// the copies in flight share the syncs instead of taking one each.
void Journal::make_durable(std::unique_lock<std::mutex>& lock, std::uint64_t note) {
    while (synced_ < note) {
        if (syncing_) {
            synced_now_.wait(lock);
            continue;
        }
        syncing_ = true;
        std::uint64_t covered = written_;
        lock.unlock();
        platform::sync_file(file_);
        if (overflow_.handle >= 0) platform::sync_file(overflow_);
        lock.lock();
        synced_ = covered;
        syncing_ = false;
        synced_now_.notify_all();
    }
}

void Journal::made(Noted noted) {
    if (noted != Noted::until_made) return;
    std::lock_guard lock(mutex_);
    if (--overflow_in_flight_ == 0 && platform::set_file_length(overflow_, 0)) overflow_end_ = 0;
}

void Journal::finish() {
    if (file_.handle < 0) return;
    if (settings_.durable) {
        // The outputs reach the disk before the notes that can put them back are let go.
        // The outputs reach the disk before the notes that can put them back
        // are let go: all of them at the end, one batch, not one a change. (A
        // file system's sync would not reach every file system: not FUSE's.)
        for (const auto& [identity, output] : to_sync_) platform::sync_file_at(output);
        platform::sync_file(file_);
    }
    platform::unmap_room(room_);
    platform::set_file_length(file_, end_);  // the room not used
    platform::close_file(overflow_);
    platform::remove_file(path_ + std::string(kOverflow));
    platform::close_file(file_);  // Windows renames no file held open
    if (settings_.kept) {
        std::string kept = path_.substr(0, path_.size() - kUnfinished.size()) + std::string(kFinished);
        platform::rename_file(path_, kept);
    } else {
        platform::remove_file(path_);
    }
    if (settings_.durable) platform::sync_folder(settings_.folder);
    keep_within_bound(settings_.folder);
}

}  // namespace kestrane
