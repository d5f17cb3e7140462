#include "names/name_rules.h"

#include "names/path_facts.h"

namespace kestrane {
namespace {

constexpr std::string_view kDefaultExtension = ".mp3";

std::string_view name_of(std::string_view path) { return path.substr(directory_part(path).size()); }

std::string_view up_to_first_dot(std::string_view name) { return name.substr(0, name.find('.')); }

}  // namespace

std::string_view directory_part(std::string_view path) {
    std::size_t end = path.size();
    while (end > 0 && !is_path_separator(path[end - 1])) --end;
    return path.substr(0, end);
}

SplitSpecification split_specification(std::string_view specification) {
    std::string_view folder = directory_part(specification);
    return {folder, specification.substr(folder.size())};
}

std::optional<std::size_t> file_name_part(std::string_view path) {
    std::string_view name = name_of(path);
    if (name.empty()) return std::nullopt;
    return path.size() - name.size();
}

std::optional<std::size_t> find_extension(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        char c = path[i - 1];
        if (is_path_separator(c)) return std::nullopt;
        if (c == '.') {
            std::size_t after_dot = path.size() - i;
            if (after_dot >= 1 && after_dot <= 3) return i - 1;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool has_wildcards(std::string_view specification) {
    if (!kVerbatimPathPrefix.empty() && specification.starts_with(kVerbatimPathPrefix)) {
        specification.remove_prefix(kVerbatimPathPrefix.size());
    }
    return specification.find_first_of("*?") != std::string_view::npos;
}

// Backtracks only to the last '*', so it runs in O(len(name) * len(pattern)).
bool matches_wildcards(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0;
    std::size_t star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || fold_to_upper(pattern[p]) == fold_to_upper(name[n]))) {
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

std::string base_name_key(std::string_view path) {
    std::string key(up_to_first_dot(name_of(path)));
    for (char& c : key) c = fold_to_upper(c);
    return key;
}

std::string with_default_extension(std::string specification) {
    if (!find_extension(specification)) specification += kDefaultExtension;
    return specification;
}

}  // namespace kestrane
