// The file-name rules that file specifications, pairing and the listing
// rest on. Names are byte strings examined byte by byte; path_facts.h says
// which bytes separate path components.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrane {

// Position just after the last separator (0 when there is none); none when
// the last component is empty.
std::optional<std::size_t> file_name_part(std::string_view path);

// Everything up to and including the last separator: the directory as
// typed, to which listed names are added ("" when there is none).
std::string_view directory_part(std::string_view path);

// A file specification split into the folder it names, as typed (with its
// last separator; "" for the current folder), and the pattern its last
// component is: the files it means are that folder's names that match it.
struct SplitSpecification {
    std::string_view folder;
    std::string_view pattern;
};
SplitSpecification split_specification(std::string_view specification);

// Position of the last dot of the last component when 1 to 3 characters
// follow it; none otherwise (an earlier dot is not tried).
std::optional<std::size_t> find_extension(std::string_view path);

// Whether the specification holds '*' or '?' (on Windows, other than the
// '?' of a leading \\?\).
bool has_wildcards(std::string_view specification);

// Whether the name matches the pattern: '*' is any run of bytes, '?' any
// one byte, every other byte itself with ASCII letter case ignored.
bool matches_wildcards(std::string_view pattern, std::string_view name);

// The byte with an ASCII lower-case letter made upper case; others as they are.
constexpr char fold_to_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c; }

// The file name's part up to its first dot, ASCII letters in upper case:
// two paths name the same base name exactly when their keys are equal (the
// comparison stops at the first dot of each name, not the last).
std::string base_name_key(std::string_view path);

// The specification with ".mp3" appended when it has no extension.
std::string with_default_extension(std::string specification);

}  // namespace kestrane
