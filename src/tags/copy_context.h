// What the copies of one run share: a dry run's memory of what it would
// have written, and room for the tags of the pairs in flight.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

#include "platform/files.h"
#include "tags/tag_record.h"

namespace kestrane {

// The tag a dry run would have left at the end of each file it would have
// written, by the file's identity. A later name of the same file (a hard
// link, a symbolic link, another path to it), as an output or an input, is
// then judged by what the real run would find there, not by what the file
// still holds. Safe to use from several copies at once.
class WouldBeWritten {
public:
    std::optional<TagFingerprint> find(const platform::FileIdentity& file) const;
    void remember(const platform::FileIdentity& file, const TagFingerprint& tag);

private:
    mutable std::mutex mutex_;
    std::map<platform::FileIdentity, TagFingerprint> tags_;
};

// Room for the tags that copies in flight hold in memory: a copy takes room
// for its two tags before it loads them and gives it back when it is done.
// It waits while the room is taken, except that a copy always gets room
// when no other holds any, however big its tags. A copy that ran out of
// memory beside others tries again alone: it waits until no other holds
// any room, and keeps the others out until it gives its room back.
class TagRoom {
public:
    explicit TagRoom(std::uint64_t bytes) : limit_(bytes) {}
    void take(std::uint64_t bytes, bool alone);
    void give_back(std::uint64_t bytes);

private:
    std::mutex mutex_;
    std::condition_variable freed_;
    std::uint64_t limit_;
    std::uint64_t taken_ = 0;
    bool held_alone_ = false;
    std::size_t waiting_alone_ = 0;
};

class Journal;

struct CopyContext {
    WouldBeWritten* would_be_written = nullptr;  // consulted and added to by a dry run
    TagRoom* room = nullptr;                     // none: the copy is alone
    bool alone = false;                          // take the room alone (see TagRoom)
    Journal* journal = nullptr;                  // where each change is noted before it is made; none: nowhere
    // The held folders the files are opened in (platform/held_folders.h); none: by their paths.
    const platform::HeldFolder* input_folder = nullptr;
    const platform::HeldFolder* output_folder = nullptr;
};

}  // namespace kestrane
