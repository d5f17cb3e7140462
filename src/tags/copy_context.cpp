#include "tags/copy_context.h"

namespace kestrane {

std::optional<TagFingerprint> WouldBeWritten::find(const platform::FileIdentity& file) const {
    std::lock_guard lock(mutex_);
    auto found = tags_.find(file);
    if (found == tags_.end()) return std::nullopt;
    return found->second;
}

void WouldBeWritten::remember(const platform::FileIdentity& file, const TagFingerprint& tag) {
    std::lock_guard lock(mutex_);
    tags_[file] = tag;
}

void TagRoom::take(std::uint64_t bytes, bool alone) {
    std::unique_lock lock(mutex_);
    if (alone) {
        // The others take no more room meanwhile, so that it empties.
        ++waiting_alone_;
        freed_.wait(lock, [&] { return !held_alone_ && taken_ == 0; });
        --waiting_alone_;
    } else {
        freed_.wait(lock, [&] {
            return !held_alone_ && waiting_alone_ == 0 && (taken_ == 0 || taken_ + bytes <= limit_);
        });
    }
    taken_ += bytes;
    held_alone_ = alone;
}

void TagRoom::give_back(std::uint64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        taken_ -= bytes;
        if (taken_ == 0) held_alone_ = false;
    }
    freed_.notify_all();
}

}  // namespace kestrane
