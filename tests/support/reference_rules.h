// The pairing rule written the plain way, byte by byte, for the tests to
// check the tool's faster index against.
#pragma once

#include <string_view>

#include "names/path_facts.h"

namespace kestrane::testing {

// Whether the two paths' file names are equal up to their first dot, ASCII
// letter case ignored.
inline bool base_names_match(std::string_view first, std::string_view second) {
    auto base_name = [](std::string_view path) {
        std::size_t start = path.size();
        while (start > 0 && !is_path_separator(path[start - 1])) --start;
        std::string_view name = path.substr(start);
        return name.substr(0, name.find('.'));
    };
    auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
    std::string_view a = base_name(first), b = base_name(second);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

}  // namespace kestrane::testing
