// The plan's folders held while the pairs in them are carried out, so that
// each pair's files are opened in the very folders their listing read: a
// folder replaced, moved or swapped for a link after the listing never
// redirects a write. A few are held at a time: each is opened when a pair
// first needs it and checked to be the folder listed, and let go, the least
// recently used first, once the pairs have moved on.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <vector>

#include "cli/plan.h"
#include "platform/held_folders.h"

namespace kestrane {

// Idle folders kept held for pairs to come (a tree's album folders come one
// after another; a flat run has one or two in all).
inline constexpr std::size_t kIdleFoldersHeld = 8;

class FoldersHeld {
public:
    // Holds folders only where the process has descriptors to spare for
    // them beside a pair's two files; else each file is opened by its path,
    // once the path is seen to lead to the folder listed.
    explicit FoldersHeld(const std::vector<PlanFolder>& folders);
    ~FoldersHeld();
    FoldersHeld(const FoldersHeld&) = delete;
    FoldersHeld& operator=(const FoldersHeld&) = delete;

    struct Use {
        const platform::HeldFolder* folder = nullptr;  // none: the file is opened by its path
        bool listed = true;                            // false: the path leads to another folder now
    };
    // The folder, held, for a pair to open a file in; kNoFolder: none.
    // Safe from several pairs at once; each take is given back.
    Use take(std::uint32_t index);
    void give_back(std::uint32_t index);

private:
    struct Held {
        platform::HeldFolder folder;
        bool another = false;  // found to be another folder: no file is opened there
        std::size_t users = 0;
        std::list<std::uint32_t>::iterator idle_at;
        bool idle = false;
    };
    const std::vector<PlanFolder>& folders_;
    bool holding_;
    std::mutex mutex_;
    std::map<std::uint32_t, Held> held_;
    std::list<std::uint32_t> idle_;  // the least recently used first
};

}  // namespace kestrane
