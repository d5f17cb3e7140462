// Folder entries in volatile mode: creating, removing and renaming happen in
// the backing folder at once, and each change is remembered, with what it
// takes to undo it, until every folder it touched is synced. A removed entry
// is moved into a hidden folder of the backing root (the graveyard) until
// then, so that it can come back. A power cut undoes the changes not yet
// durable (but for those it keeps), newest first. Paths are relative to the
// backing root ("." for it). Every function is called with the state lock
// held.
#pragma once

#include <string>

#include "cut_keeping.h"

namespace testfs {

// The graveyard's name in the backing root; the mount does not show it.
inline constexpr const char* kGraveyard = ".kestrane-testfs-removed";

// Makes an empty graveyard (removing one an earlier mount left); false with
// errno set when it cannot.
bool start_entries(const std::string& backing_root_path, int backing_root);

// After an entry was made at path (a file, folder, link or node).
void entry_created(const std::string& path);
// unlink (folder false) and rmdir (folder true): moves the entry into the
// graveyard. Returns 0 or -errno as the system call would.
int remove_entry(const std::string& path, bool folder);
// rename with flags 0, RENAME_NOREPLACE or RENAME_EXCHANGE; an entry it
// replaces goes into the graveyard.
int rename_entry(const std::string& from, const std::string& to, unsigned flags);

// The changes that touched the folder (an open backing folder) are durable
// once every folder each touched has been synced.
void folder_synced(int fd);
void sync_all_entries();
// At a power cut: undoes every change not yet durable that the keeping does
// not keep, newest first; where a durable change has taken an entry's name
// since, the entry that would come back is lost. A change is kept only if
// every earlier change not yet durable on the same names, or on a folder
// above them or an entry below, is kept too: a name's changes reach the disk
// in the order they were made.
void lose_unsynced_entries(const Keeping& keeping);
// At unmount: empties and removes the graveyard.
void finish_entries();

}  // namespace testfs
