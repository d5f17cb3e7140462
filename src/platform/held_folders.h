// Folders held open while their files are opened: a name opened through a
// held folder is a file of that very folder, whatever became of the path
// that led there after the listing (the folder moved, replaced, swapped for
// a link), so a write never lands in another folder.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"

namespace kestrane::platform {

struct HeldFolder {
    std::intptr_t handle = -1;
};

enum class FolderHeld {
    held,
    another_folder,  // the path leads elsewhere now, or nowhere
    not_held,        // it could not be opened (no descriptor to spare, say)
};

// Holds the folder the path (as typed; "" the current folder) leads to now,
// when it is the listed one (an identity all zero: any). On POSIX systems
// files are then opened in it by name; on Windows it is held without delete
// sharing, which keeps it (and the folders it lies in) from being renamed
// or removed while it is held, and its files are opened by their paths.
FolderHeld hold_folder(const std::string& folder, const FileIdentity& listed, HeldFolder& held);
void let_go(HeldFolder& held);

// Whether the path leads to the listed folder now: asked after a file was
// opened by its path where the folder could not be held.
bool leads_to(const std::string& folder, const FileIdentity& listed);

}  // namespace kestrane::platform
