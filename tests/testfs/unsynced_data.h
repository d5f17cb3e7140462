// File data in volatile mode: what programs wrote, truncated or allocated
// since a file was last synced is kept here, in pages, over the backing
// file, which holds only the synced state until a sync writes the pages to
// it. Reads see the pages over the backing bytes. A power cut throws the
// pages away, but for those it keeps. Every function is called with the
// state lock held.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include "cut_keeping.h"

namespace testfs {

// A file or folder of the backing folder, by its identity there.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    auto operator<=>(const Identity&) const = default;
};
Identity identity_of(const struct stat& status);

// Each returns what the system call it stands for returns, or -errno. fd is
// an open backing file.
ssize_t read_unsynced(int fd, char* into, size_t size, off_t at);
ssize_t write_unsynced(int fd, const char* bytes, size_t size, off_t at);
int truncate_unsynced(int fd, off_t length);
int allocate_unsynced(int fd, int mode, off_t at, off_t length);
// Writes the file's pages to the backing file: they are durable from then on.
int sync_unsynced(int fd);
// A backing file's status as programs see it: its unsynced length and time.
void show_unsynced(struct stat& status);

void sync_all_unsynced_data();
// At a power cut: the backing files get what the keeping keeps of their
// unsynced state, and the rest is thrown away. A file's length change (with
// the blocks a shortening freed) is kept or lost as a whole, and each page,
// as programs last saw it, on its own; a kept page is written as far as the
// length the file keeps reaches, no further (past it, it lies in a block the
// length no longer reaches).
void lose_unsynced_data(const Keeping& keeping);

}  // namespace testfs
