// Folder listing on POSIX systems, with the matching rules a Windows user
// of the tool expects: letter case ignored, '*' and '?' wildcards, every
// other byte literal, hidden (dot) entries skipped. As names differing only
// in case can coexist here, a plain name (no wildcards) means exactly the
// entry of that name when there is one, and any case of it only when there
// is not.
#include "platform/listing.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

#include "names/name_rules.h"

namespace kestrane::platform {
namespace {

// The entry's type once symlinks are followed (or not); d_type answers
// without a system call for everything but links and file systems that
// don't report types.
bool is_regular_file(DIR* directory, const dirent* entry) {
    if (entry->d_type == DT_REG) return true;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) return false;
    struct stat status {};
    return ::fstatat(::dirfd(directory), entry->d_name, &status, 0) == 0 && S_ISREG(status.st_mode);
}

// A link to a folder is not a folder here: walks do not follow it.
bool is_folder(DIR* directory, const dirent* entry) {
    if (entry->d_type != DT_UNKNOWN) return entry->d_type == DT_DIR;
    struct stat status {};
    return ::fstatat(::dirfd(directory), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(status.st_mode);
}

// The names one pattern collects while the folder is read. A plain name
// also notes whether an entry of exactly that name exists, whatever its
// type, and whether it is a regular file.
struct Collected {
    std::string_view pattern;
    std::vector<std::string>& names;
    bool exact_name_seen = false;
    bool exact_name_regular = false;
};

void collect(Collected& collected, std::string_view name, DIR* directory, const dirent* entry,
             std::optional<bool>& regular) {
    if (collected.pattern.empty() || !matches_wildcards(collected.pattern, name)) return;
    if (!regular) regular = is_regular_file(directory, entry);  // asked at most once, and only for a match
    if (*regular) collected.names.emplace_back(name);
    if (name == collected.pattern && !has_wildcards(collected.pattern)) {
        collected.exact_name_seen = true;
        collected.exact_name_regular = *regular;
    }
}

// A plain name that names an entry exactly gets that entry alone, and
// nothing when it is not a regular file: a file whose name differs only in
// case is never taken in place of the entry the user named.
void finish(Collected& collected) {
    if (collected.exact_name_seen) {
        collected.names.clear();
        if (collected.exact_name_regular) collected.names.emplace_back(collected.pattern);
    }
    std::sort(collected.names.begin(), collected.names.end());
}

}  // namespace

FolderListing list_folder(std::string_view folder, std::string_view first_pattern, std::string_view second_pattern,
                          bool with_folders) {
    FolderListing listing;
    std::string path = folder.empty() ? std::string(".") : std::string(folder);
    DIR* directory = ::opendir(path.c_str());
    if (directory == nullptr) {
        listing.state = errno == ENOENT || errno == ENOTDIR ? FolderState::missing : FolderState::unreadable;
        return listing;
    }
    struct stat status {};
    if (::fstat(::dirfd(directory), &status) == 0) {
        listing.identity = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    }
    Collected first{first_pattern, listing.first};
    Collected second{second_pattern, listing.second};
    for (;;) {
        errno = 0;  // readdir() tells its end from a failure only by errno
        const dirent* entry = ::readdir(directory);
        if (entry == nullptr) break;
        std::string_view name = entry->d_name;
        if (name.empty() || name.front() == '.') continue;
        std::optional<bool> regular;
        collect(first, name, directory, entry, regular);
        collect(second, name, directory, entry, regular);
        if (with_folders && !regular.value_or(false) && is_folder(directory, entry)) listing.folders.emplace_back(name);
    }
    listing.state = errno == 0 ? FolderState::listed : FolderState::unreadable;
    ::closedir(directory);
    finish(first);
    finish(second);
    std::sort(listing.folders.begin(), listing.folders.end());
    return listing;
}

std::string entry_name_key(std::string_view name) { return std::string(name); }

}  // namespace kestrane::platform
