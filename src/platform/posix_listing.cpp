// Directory listing on POSIX systems, with the matching rules a Windows
// user of the tool expects: letter case ignored, '*' and '?' wildcards,
// every other byte literal, hidden (dot) files skipped. As names differing
// only in case can coexist here, a plain name (no wildcards) means exactly
// the entry of that name when there is one, and any case of it only when
// there is not.
#include "platform/listing.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <span>
#include <sys/stat.h>

#include "cli/name_rules.h"

namespace kestrane::platform {
namespace {

// Whether the entry is a regular file once symlinks are followed; d_type
// answers without a system call for everything but links and file systems
// that don't report types.
bool is_regular_file(DIR* directory, const dirent* entry) {
    if (entry->d_type == DT_REG) return true;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) return false;
    struct stat status {};
    return ::fstatat(::dirfd(directory), entry->d_name, &status, 0) == 0 && S_ISREG(status.st_mode);
}

// The names one specification collects while its directory is read. A
// plain name (no wildcards) also notes whether an entry of exactly that
// name exists, whatever its type, and whether it is a regular file.
struct Listing {
    std::string_view pattern;
    std::vector<std::string>& names;
    bool exact_name_seen = false;
    bool exact_name_regular = false;
};

std::string folder_of(const std::string& specification) {
    std::string_view folder = directory_part(specification);
    return folder.empty() ? "." : std::string(folder);
}

std::string_view pattern_of(const std::string& specification) {
    return std::string_view(specification).substr(directory_part(specification).size());
}

// Reads the directory once, giving each listing the regular, non-hidden
// entries its pattern matches, sorted by byte order. A plain name that
// names an entry exactly gets that entry alone, and nothing when it is not
// a regular file: a file whose name differs only in case is never taken in
// place of the entry the user named.
void read_directory(const std::string& folder, std::span<Listing> listings) {
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) return;
    while (const dirent* entry = ::readdir(directory)) {
        std::string_view name = entry->d_name;
        if (name.empty() || name.front() == '.') continue;
        std::optional<bool> regular;  // asked at most once, and only for a match
        for (Listing& listing : listings) {
            if (!matches_wildcards(listing.pattern, name)) continue;
            if (!regular) regular = is_regular_file(directory, entry);
            if (*regular) listing.names.emplace_back(name);
            if (name == listing.pattern && !has_wildcards(listing.pattern)) {
                listing.exact_name_seen = true;
                listing.exact_name_regular = *regular;
            }
        }
    }
    ::closedir(directory);
    for (Listing& listing : listings) {
        std::vector<std::string>& names = listing.names;
        if (listing.exact_name_seen) {
            names.clear();
            if (listing.exact_name_regular) names.emplace_back(listing.pattern);
        }
        std::sort(names.begin(), names.end());
    }
}

}  // namespace

std::vector<std::string> list_matching_files(const std::string& specification) {
    std::vector<std::string> names;
    Listing listing{pattern_of(specification), names};
    read_directory(folder_of(specification), std::span(&listing, 1));
    return names;
}

MatchingFiles list_matching_files(const std::string& first_specification,
                                  const std::string& second_specification) {
    MatchingFiles files;
    std::string folder = folder_of(first_specification);
    if (folder != folder_of(second_specification)) {
        files.first = list_matching_files(first_specification);
        files.second = list_matching_files(second_specification);
        return files;
    }
    Listing listings[] = {{pattern_of(first_specification), files.first},
                          {pattern_of(second_specification), files.second}};
    read_directory(folder, listings);
    return files;
}

}  // namespace kestrane::platform
