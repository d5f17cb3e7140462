// Text where the tool meets Windows. Inside, every string is UTF-8; the
// system's wide ("W") calls take and give UTF-16. Names on NTFS are any
// sequence of 16-bit units, unpaired surrogates included, so the conversion
// carries those too (as three-byte sequences, the way UTF-8 would encode the
// code point): every name converts to UTF-8 and back to exactly itself.
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

}  // namespace kestrane::platform
