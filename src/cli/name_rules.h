// The file-name rules that file specifications and pairing rest on. Names
// are byte strings examined byte by byte; the platform says which bytes
// separate path components.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrane {

// Position just after the last separator (0 when there is none); none when
// the last component is empty.
std::optional<std::size_t> file_name_part(std::string_view path);

// Position of the last dot of the last component when 1 to 3 characters
// follow it; none otherwise (an earlier dot is not tried).
std::optional<std::size_t> find_extension(std::string_view path);

// Whether the specification holds '*' or '?'.
bool has_wildcards(std::string_view specification);

// The file name's part up to its first dot, ASCII letters in upper case:
// two paths name the same base name exactly when their keys are equal (the
// comparison stops at the first dot of each name, not the last).
std::string base_name_key(std::string_view path);

// The specification with ".mp3" appended when it has no extension.
std::string with_default_extension(std::string specification);

}  // namespace kestrane
