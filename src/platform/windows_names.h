// Text and paths where the tool meets Windows. Inside, every string is
// UTF-8; the system's wide ("W") calls take and give UTF-16. Names on NTFS
// are any sequence of 16-bit units, unpaired surrogates included, so the
// conversion carries those too (as three-byte sequences, the way UTF-8
// would encode the code point): every name converts to UTF-8 and back to
// exactly itself.
#pragma once

#include <string>
#include <string_view>

namespace kestrane::platform {

std::wstring to_wide(std::string_view text);
std::string to_utf8(std::wstring_view text);

// The text in the ANSI code page, as the narrow calls of a Windows program
// write it: a character the code page can't show becomes its replacement
// character ('?'), not a look-alike.
std::string to_ansi_code_page(std::wstring_view text);

// The form of a path that the wide calls take as it stands: made full the
// way Windows resolves what a user types (against the current folder or
// the drive's, "." and ".." and trailing dots and spaces of components
// removed, '/' turned into '\'), then prefixed with \\?\ (\\?\UNC\ for a
// share), which lifts the length limit and keeps the system from changing
// the path any further.
std::wstring system_path(std::wstring_view typed);

// The system form of a path built as the folder part the user typed
// followed by a name as the listing gave it: the folder part resolved as
// above, the name appended unchanged, so that a trailing dot or space in
// it still names that file.
std::wstring system_path_of_listed_file(std::string_view path);

}  // namespace kestrane::platform
