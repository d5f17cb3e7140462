// The \\?\ form of paths.
#include "platform/windows_paths.h"

#include <windows.h>

#include "names/name_rules.h"
#include "platform/windows_text.h"

namespace kestrane::platform {
namespace {

bool starts_with(std::wstring_view text, std::wstring_view start) { return text.substr(0, start.size()) == start; }

}  // namespace

// GetFullPathNameW takes paths of any length. A path it refuses is left as
// it is, for the call that uses it to refuse in turn.
std::wstring full_path(const std::wstring& typed) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = ::GetFullPathNameW(typed.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return typed;
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);  // the size needed, its terminating zero included
    }
}

std::wstring system_path(std::wstring_view typed) {
    std::wstring full = full_path(std::wstring(typed));
    if (starts_with(full, L"\\\\?\\")) return full;
    if (starts_with(full, L"\\\\.\\")) return L"\\\\?\\" + full.substr(4);  // already resolved
    if (starts_with(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
    return full;
}

std::wstring system_path_of_listed_file(std::string_view path) {
    // A listed name holds no separator, so the folder part ends at the last one.
    std::string_view folder = directory_part(path);
    std::wstring system = system_path(folder.empty() ? L"." : to_wide(folder));
    if (!system.empty() && system.back() != L'\\') system += L'\\';
    return system + to_wide(path.substr(folder.size()));
}

}  // namespace kestrane::platform
