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

void TagRoom::take(std::uint64_t bytes) {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return taken_ == 0 || taken_ + bytes <= limit_; });
    taken_ += bytes;
}

void TagRoom::give_back(std::uint64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        taken_ -= bytes;
    }
    freed_.notify_all();
}

}  // namespace kestrane
