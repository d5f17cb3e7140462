// Directory listing on Windows: the system's own matching of '*' and '?'
// (letter case ignored, short 8.3 aliases included), in the order the
// system returns the entries. The specification is resolved as Windows
// resolves what a user types and searched through its \\?\ form, so its
// length has no limit; names come back whole, as UTF-8.
#include "platform/listing.h"

#include <windows.h>

#include "platform/windows_paths.h"
#include "platform/windows_text.h"

namespace kestrane::platform {
namespace {

constexpr DWORD kSkippedAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

}  // namespace

std::vector<std::string> list_matching_files(const std::string& specification) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW(system_path(to_wide(specification)).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if ((entry.dwFileAttributes & kSkippedAttributes) == 0) names.push_back(to_utf8(entry.cFileName));
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    return names;
}

MatchingFiles list_matching_files(const std::string& first_specification,
                                  const std::string& second_specification) {
    return {list_matching_files(first_specification), list_matching_files(second_specification)};
}

}  // namespace kestrane::platform
