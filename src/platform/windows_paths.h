// Paths where the tool meets Windows: the \\?\ form every file and
// folder is reached by, so that its length has no limit and the system
// changes nothing in it.
#pragma once

#include <string>
#include <string_view>

namespace kestrane::platform {

// The form of a path that the wide calls take as it stands: made full the
// way Windows resolves what a user types (against the current folder or
// the drive's, "." and ".." and trailing dots and spaces of components
// removed, '/' turned into '\'), then prefixed with \\?\ (\\?\UNC\ for a
// share), which lifts the length limit and keeps the system from changing
// the path any further.
std::wstring system_path(std::wstring_view typed);

// What Windows makes of a path typed by the user, made full against the
// current folder (or the drive's), without the \\?\ prefix.
std::wstring full_path(const std::wstring& typed);

// The system form of a path built as the folder part the user typed
// followed by a name as the listing gave it: the folder part resolved as
// above, the name appended unchanged, so that a trailing dot or space in
// it still names that file.
std::wstring system_path_of_listed_file(std::string_view path);

}  // namespace kestrane::platform
