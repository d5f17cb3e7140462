#include "cli/folders_held.h"

#include "platform/files.h"

namespace kestrane {
namespace {

// A pair's two files and its two folders.
constexpr std::size_t kDescriptorsForOnePair = 4;

}  // namespace

FoldersHeld::FoldersHeld(const std::vector<PlanFolder>& folders)
    : folders_(folders),
      holding_(platform::free_file_descriptors(kDescriptorsForOnePair) >= kDescriptorsForOnePair) {}

FoldersHeld::~FoldersHeld() {
    for (auto& [index, held] : held_) platform::let_go(held.folder);
}

FoldersHeld::Use FoldersHeld::take(std::uint32_t index) {
    if (index == kNoFolder) return {};
    if (!holding_) return {nullptr, platform::leads_to(folders_[index].path, folders_[index].identity)};
    std::lock_guard lock(mutex_);
    auto [found, fresh] = held_.try_emplace(index);
    Held& held = found->second;
    if (fresh) {
        const PlanFolder& listed = folders_[index];
        switch (platform::hold_folder(listed.path, listed.identity, held.folder)) {
            case platform::FolderHeld::held:
                break;
            case platform::FolderHeld::another_folder:
                held.another = true;
                break;
            case platform::FolderHeld::not_held:
                // No descriptor to spare: the file is opened by its path, if
                // that leads to the folder listed now.
                bool listed_one = platform::leads_to(listed.path, listed.identity);
                held_.erase(found);
                return {nullptr, listed_one};
        }
    }
    if (held.idle) {
        idle_.erase(held.idle_at);
        held.idle = false;
    }
    ++held.users;
    return {held.another ? nullptr : &held.folder, !held.another};
}

void FoldersHeld::give_back(std::uint32_t index) {
    if (index == kNoFolder) return;
    std::lock_guard lock(mutex_);
    auto found = held_.find(index);
    if (found == held_.end() || --found->second.users > 0) return;
    found->second.idle_at = idle_.insert(idle_.end(), index);
    found->second.idle = true;
    while (idle_.size() > kIdleFoldersHeld) {
        auto oldest = held_.find(idle_.front());
        idle_.pop_front();
        platform::let_go(oldest->second.folder);
        held_.erase(oldest);
    }
}

}  // namespace kestrane
