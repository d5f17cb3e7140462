#include "unsynced_entries.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "unsynced_data.h"

namespace testfs {
namespace {

enum class Kind { created, removed, renamed, exchanged };

struct Change {
    Kind kind;
    std::string path;     // the entry made or removed; the first name renamed or exchanged
    std::string to;       // the second name renamed or exchanged
    Identity entry;       // created: the entry made; renamed: the entry moved
    std::string buried;   // removed: the entry in the graveyard; renamed: the one it replaced, if any
    std::vector<Identity> unsynced_folders;
    std::uint64_t number = 0;  // entry changes numbered from 1 in the order they were made
};

std::vector<Change> changes;
std::uint64_t changes_made = 0;
std::filesystem::path graveyard_path;
int root = -1;
int graveyard = -1;
unsigned long burials = 0;

bool identity_at(int folder, const std::string& path, Identity& result) {
    struct stat status;
    if (::fstatat(folder, path.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
    result = identity_of(status);
    return true;
}

std::string parent_of(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::vector<Identity> parents_of(const std::string& path, const std::string& other = {}) {
    std::vector<Identity> folders(1);
    identity_at(root, parent_of(path), folders[0]);
    Identity second;
    if (!other.empty() && identity_at(root, parent_of(other), second) && second != folders[0]) {
        folders.push_back(second);
    }
    return folders;
}

bool is_empty_folder(const std::string& path) {
    int fd = ::openat(root, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!listing) return false;
    bool empty = true;
    while (dirent* item = ::readdir(listing)) {
        std::string name = item->d_name;
        if (name != "." && name != "..") empty = false;
    }
    ::closedir(listing);
    return empty;
}

// Moves the entry into the graveyard; its name there, or "" with errno set.
std::string bury(int folder, const std::string& path) {
    std::string name = std::to_string(++burials);
    return ::renameat(folder, path.c_str(), graveyard, name.c_str()) == 0 ? name : "";
}

void forget(const std::string& buried) {
    std::error_code ignored;
    if (!buried.empty()) std::filesystem::remove_all(graveyard_path / buried, ignored);
}

void remember(Change change) {
    change.number = ++changes_made;
    changes.push_back(std::move(change));
}

// Whether one path is the other, or a folder above it.
bool on_one_line(const std::string& path, const std::string& other) {
    auto below = [](const std::string& inner, const std::string& outer) {
        return inner.size() > outer.size() && inner.starts_with(outer) && inner[outer.size()] == '/';
    };
    return path == other || below(path, other) || below(other, path);
}

// Whether the later change must be undone when the earlier one is: they
// touch the same names, or a folder and an entry in it.
bool depends_on(const Change& later, const Change& earlier) {
    for (const std::string* name : {&later.path, &later.to}) {
        for (const std::string* other : {&earlier.path, &earlier.to}) {
            if (!name->empty() && !other->empty() && on_one_line(*name, *other)) return true;
        }
    }
    return false;
}

bool still(const std::string& path, const Identity& entry) {
    Identity now;
    return identity_at(root, path, now) && now == entry;
}

void undo(const Change& change) {
    switch (change.kind) {
        case Kind::created:
            if (!still(change.path, change.entry)) return;
            if (::unlinkat(root, change.path.c_str(), 0) != 0 &&
                ::unlinkat(root, change.path.c_str(), AT_REMOVEDIR) != 0) {
                bury(root, change.path);  // a folder with durable entries: lost with them
            }
            return;
        case Kind::removed:
            ::renameat2(graveyard, change.buried.c_str(), root, change.path.c_str(), RENAME_NOREPLACE);
            return;
        case Kind::renamed:
            if (still(change.to, change.entry) &&
                ::renameat2(root, change.to.c_str(), root, change.path.c_str(), RENAME_NOREPLACE) != 0) {
                bury(root, change.to);
            }
            if (!change.buried.empty()) {
                ::renameat2(graveyard, change.buried.c_str(), root, change.to.c_str(), RENAME_NOREPLACE);
            }
            return;
        case Kind::exchanged:
            ::renameat2(root, change.path.c_str(), root, change.to.c_str(), RENAME_EXCHANGE);
            return;
    }
}

}  // namespace

bool start_entries(const std::string& backing_root_path, int backing_root) {
    root = backing_root;
    graveyard_path = std::filesystem::path(backing_root_path) / kGraveyard;
    std::error_code error;
    std::filesystem::remove_all(graveyard_path, error);
    if (::mkdirat(root, kGraveyard, 0700) != 0) return false;
    graveyard = ::openat(root, kGraveyard, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return graveyard >= 0;
}

void entry_created(const std::string& path) {
    Change change{Kind::created, path, {}, {}, {}, parents_of(path)};
    if (identity_at(root, path, change.entry)) remember(change);
}

int remove_entry(const std::string& path, bool folder) {
    struct stat status;
    if (::fstatat(root, path.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return -errno;
    bool is_folder = S_ISDIR(status.st_mode);
    if (folder && !is_folder) return -ENOTDIR;
    if (!folder && is_folder) return -EISDIR;
    if (folder && !is_empty_folder(path)) return -ENOTEMPTY;
    std::vector<Identity> folders = parents_of(path);
    std::string buried = bury(root, path);
    if (buried.empty()) return -errno;
    remember(Change{Kind::removed, path, {}, {}, buried, folders});
    return 0;
}

int rename_entry(const std::string& from, const std::string& to, unsigned flags) {
    if (flags & ~(RENAME_NOREPLACE | RENAME_EXCHANGE)) return -EINVAL;
    if (flags & RENAME_EXCHANGE) {
        if (::renameat2(root, from.c_str(), root, to.c_str(), flags) != 0) return -errno;
        remember(Change{Kind::exchanged, from, to, {}, {}, parents_of(from, to)});
        return 0;
    }
    struct stat moving, replaced;
    if (::fstatat(root, from.c_str(), &moving, AT_SYMLINK_NOFOLLOW) != 0) return -errno;
    Change change{Kind::renamed, from, to, identity_of(moving), {}, parents_of(from, to)};
    if (::fstatat(root, to.c_str(), &replaced, AT_SYMLINK_NOFOLLOW) == 0) {
        if (identity_of(replaced) == change.entry) return 0;  // two names of one file: nothing to do
        if (flags & RENAME_NOREPLACE) return -EEXIST;
        if (S_ISDIR(moving.st_mode) && !S_ISDIR(replaced.st_mode)) return -ENOTDIR;
        if (!S_ISDIR(moving.st_mode) && S_ISDIR(replaced.st_mode)) return -EISDIR;
        if (S_ISDIR(replaced.st_mode) && !is_empty_folder(to)) return -ENOTEMPTY;
        change.buried = bury(root, to);
        if (change.buried.empty()) return -errno;
    }
    if (::renameat(root, from.c_str(), root, to.c_str()) != 0) {
        int error = errno;
        if (!change.buried.empty()) ::renameat(graveyard, change.buried.c_str(), root, to.c_str());
        return -error;
    }
    remember(change);
    return 0;
}

void folder_synced(int fd) {
    struct stat status;
    if (::fstat(fd, &status) != 0) return;
    Identity folder = identity_of(status);
    std::erase_if(changes, [&](Change& change) {
        std::erase(change.unsynced_folders, folder);
        if (!change.unsynced_folders.empty()) return false;
        if (change.kind != Kind::created) forget(change.buried);
        return true;
    });
}

void sync_all_entries() {
    for (const Change& change : changes) {
        if (change.kind != Kind::created) forget(change.buried);
    }
    changes.clear();
}

void lose_unsynced_entries(const Keeping& keeping) {
    std::vector<bool> undone(changes.size());
    for (std::size_t later = 0; later < changes.size(); ++later) {
        undone[later] = !keeping.keeps(Piece::entry, changes[later].number);
        for (std::size_t earlier = 0; earlier < later && !undone[later]; ++earlier) {
            undone[later] = undone[earlier] && depends_on(changes[later], changes[earlier]);
        }
    }
    for (std::size_t index = changes.size(); index-- > 0;) {
        if (undone[index]) undo(changes[index]);
    }
    changes.clear();
    finish_entries();  // what is left there was removed for good, or is lost
}

void finish_entries() {
    if (graveyard < 0) return;
    ::close(graveyard);
    graveyard = -1;
    std::error_code ignored;
    std::filesystem::remove_all(graveyard_path, ignored);
}

}  // namespace testfs
