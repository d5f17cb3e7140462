// Directory listing on POSIX systems, with the matching rules a Windows
// user of the tool expects: letter case ignored, '*' and '?' wildcards,
// every other byte literal, hidden (dot) files skipped.
#include "platform/platform.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace kestrane::platform {
namespace {

unsigned char fold(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c; }

// Matches name against pattern; '*' is any run of bytes, '?' one byte.
// Backtracks only to the last '*', so it runs in O(len(name) * len(pattern)).
bool matches(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0;
    std::size_t star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || fold(static_cast<unsigned char>(pattern[p])) ==
                                             fold(static_cast<unsigned char>(name[n])))) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// Whether the entry is a regular file once symlinks are followed; d_type
// answers without a system call for everything but links and file systems
// that don't report types.
bool is_regular_file(DIR* directory, const dirent* entry) {
    if (entry->d_type == DT_REG) return true;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) return false;
    struct stat status {};
    return ::fstatat(::dirfd(directory), entry->d_name, &status, 0) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

std::vector<std::string> list_matching_files(const std::string& specification) {
    std::size_t slash = specification.rfind('/');
    std::string folder = slash == std::string::npos ? "." : specification.substr(0, slash + 1);
    std::string_view pattern = std::string_view(specification).substr(slash == std::string::npos ? 0 : slash + 1);

    std::vector<std::string> names;
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) return names;
    while (const dirent* entry = ::readdir(directory)) {
        std::string_view name = entry->d_name;
        if (name.empty() || name.front() == '.') continue;
        if (matches(pattern, name) && is_regular_file(directory, entry)) names.emplace_back(name);
    }
    ::closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace kestrane::platform
