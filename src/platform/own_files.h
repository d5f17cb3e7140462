// The tool's own files, its journals: where they live, and making, syncing,
// renaming and removing them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/files.h"

namespace kestrane::platform {

// The folder the tool keeps what outlives a run in, made (for this user
// alone) when missing, ending with a separator: $XDG_STATE_HOME/kestrane,
// else ~/.local/state/kestrane; on Windows %LOCALAPPDATA%\kestrane. None
// when it can't be had.
std::optional<std::string> state_folder();

// Makes a new file (none of that name may exist), for reading and writing
// by this user alone, held exclusively until it is closed.
bool create_new_file(const std::string& path, OpenFile& file);

// Waits until the file's bytes and length are on the disk.
bool sync_file(const OpenFile& file);

// Waits until the file at path is on the disk; opened without a lock, so
// that another run holding it is no bar.
bool sync_file_at(const std::string& path);

// Syncs the folder's list of names: a file made, renamed or removed in it
// is then on the disk too. Harmless where the system needs no such step.
void sync_folder(const std::string& folder);

// Room at a file's end, reserved on the disk and mapped into memory, for
// notes copied in without a call each: what is copied is in the system's
// cache at once, and outlives the process like a write. The file's length
// covers the room (zeros past what is copied); set it back when done.
struct MappedRoom {
    std::uint8_t* bytes = nullptr;  // at from
    std::uint64_t from = 0;
    std::uint64_t length = 0;  // usable from `from` on
    void* base = nullptr;      // of the mapping, as the system gave it
    std::uint64_t mapped = 0;
};
// False where it can't be had (no room on the disk, or no such call: Windows
// here); the caller writes instead.
bool map_room(const OpenFile& file, std::uint64_t from, std::uint64_t length, MappedRoom& room);
void unmap_room(MappedRoom& room);

bool rename_file(const std::string& from, const std::string& to);
bool remove_file(const std::string& path);

// The path made full against the current folder, as the system would
// resolve it now: a path that names the same file from any folder.
std::string absolute_path(const std::string& path);

// This process's number.
std::uint64_t process_id();

}  // namespace kestrane::platform
