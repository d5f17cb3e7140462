// libFuzzer target for the name rules (names/name_rules.h).
//
// The input is a pattern and a name, split at the first NUL byte (no file
// name holds one; without a NUL the name is empty). Every rule is checked
// against a plain version written here from the rules as the manual states
// them, on both strings (each is also taken for a path):
// - '*' is any run of bytes, '?' any one byte, every other byte itself with
//   the letter case of A to Z ignored and of no other byte;
// - the path separators are '/' (and on Windows also '\' and ':'); the last
//   component is what follows the last one;
// - the extension is the last dot of the last component when 1 to 3 bytes
//   follow it, and ".mp3" is added to a specification without one;
// - the base name is the last component up to its first dot, A to Z folded;
// - '*' and '?' are wildcards anywhere (on Windows, but for the '?' of a
//   leading \\?\).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "names/name_rules.h"

namespace {

[[noreturn]] void fail(const char* what, std::string_view pattern, std::string_view name) {
    std::fprintf(stderr, "name_rules_fuzzer: %s\n  pattern (%zu bytes), name (%zu bytes)\n", what, pattern.size(),
                 name.size());
    std::abort();
}

#if defined(_WIN32)
constexpr std::string_view kSeparators = "\\/:";
constexpr std::string_view kVerbatimPrefix = "\\\\?\\";
#else
constexpr std::string_view kSeparators = "/";
constexpr std::string_view kVerbatimPrefix = "";
#endif

bool is_separator(char c) { return kSeparators.find(c) != std::string_view::npos; }

bool is_ascii_lower(char c) { return c >= 'a' && c <= 'z'; }

char upper(char c) { return is_ascii_lower(c) ? static_cast<char>(c - 'a' + 'A') : c; }

bool same_letter(char a, char b) { return upper(a) == upper(b); }

// Whether name[n..] matches pattern[p..], by trying every way a '*' can
// stand for a run of bytes; each pair (p, n) is worked out once.
struct Matcher {
    std::string_view pattern, name;
    std::vector<signed char> known;  // -1 not yet, 0 no, 1 yes

    bool match(std::size_t p, std::size_t n) {
        signed char& answer = known[p * (name.size() + 1) + n];
        if (answer < 0) answer = static_cast<signed char>(work_out(p, n));
        return answer == 1;
    }

    bool work_out(std::size_t p, std::size_t n) {
        if (p == pattern.size()) return n == name.size();
        if (pattern[p] == '*') return match(p + 1, n) || (n < name.size() && match(p, n + 1));
        if (n == name.size()) return false;
        if (pattern[p] == '?' || same_letter(pattern[p], name[n])) return match(p + 1, n + 1);
        return false;
    }
};

bool plain_match(std::string_view pattern, std::string_view name) {
    Matcher matcher{pattern, name, std::vector<signed char>((pattern.size() + 1) * (name.size() + 1), -1)};
    return matcher.match(0, 0);
}

// Where the last component starts: just after the last separator.
std::size_t last_component_start(std::string_view path) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (is_separator(path[i])) start = i + 1;
    }
    return start;
}

std::optional<std::size_t> plain_extension(std::string_view path) {
    std::size_t start = last_component_start(path);
    std::optional<std::size_t> last_dot;
    for (std::size_t i = start; i < path.size(); ++i) {
        if (path[i] == '.') last_dot = i;
    }
    if (!last_dot) return std::nullopt;
    std::size_t after = path.size() - *last_dot - 1;
    if (after < 1 || after > 3) return std::nullopt;
    return last_dot;
}

std::string plain_base_name_key(std::string_view path) {
    std::string key;
    for (std::size_t i = last_component_start(path); i < path.size() && path[i] != '.'; ++i) key += upper(path[i]);
    return key;
}

bool plain_has_wildcards(std::string_view specification) {
    std::size_t from = 0;
    if (!kVerbatimPrefix.empty() && specification.substr(0, kVerbatimPrefix.size()) == kVerbatimPrefix) {
        from = kVerbatimPrefix.size();
    }
    for (std::size_t i = from; i < specification.size(); ++i) {
        if (specification[i] == '*' || specification[i] == '?') return true;
    }
    return false;
}

// The rules that take one path, against their plain versions.
void check_path_rules(std::string_view path, std::string_view pattern, std::string_view name) {
    std::size_t start = last_component_start(path);
    if (kestrane::directory_part(path) != path.substr(0, start)) fail("directory_part", pattern, name);
    std::optional<std::size_t> expected_name_part =
        start < path.size() ? std::optional<std::size_t>(start) : std::nullopt;
    if (kestrane::file_name_part(path) != expected_name_part) fail("file_name_part", pattern, name);
    kestrane::SplitSpecification split = kestrane::split_specification(path);
    if (split.folder != path.substr(0, start) || split.pattern != path.substr(start)) {
        fail("split_specification", pattern, name);
    }
    std::optional<std::size_t> extension = plain_extension(path);
    if (kestrane::find_extension(path) != extension) fail("find_extension", pattern, name);
    if (kestrane::has_wildcards(path) != plain_has_wildcards(path)) fail("has_wildcards", pattern, name);
    if (kestrane::base_name_key(path) != plain_base_name_key(path)) fail("base_name_key", pattern, name);
    std::string completed = extension ? std::string(path) : std::string(path) + ".mp3";
    if (kestrane::with_default_extension(std::string(path)) != completed) fail("with_default_extension", pattern, name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t nul = input.find('\0');
    std::string_view pattern = input.substr(0, nul);
    std::string_view name = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

    if (kestrane::matches_wildcards(pattern, name) != plain_match(pattern, name)) {
        fail("matches_wildcards disagrees with trying every way", pattern, name);
    }
    // Every string, taken for a pattern, matches itself.
    if (!kestrane::matches_wildcards(name, name)) fail("a name does not match itself", pattern, name);
    check_path_rules(pattern, pattern, name);
    check_path_rules(name, pattern, name);
    return 0;
}
