// Folder listing on Windows: the system's own matching of '*' and '?'
// (letter case ignored, short 8.3 aliases included), in the order the
// system returns the entries. The folder is resolved as Windows resolves
// what a user types and searched through its \\?\ form, so its length has
// no limit; names come back whole, as UTF-8.
#include "platform/listing.h"

#include <windows.h>

#include "platform/windows_paths.h"
#include "platform/windows_text.h"

namespace kestrane::platform {
namespace {

constexpr DWORD kHiddenOrSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// Junctions, symbolic links and mount points to folders are not followed.
constexpr DWORD kNotWalked = kHiddenOrSystem | FILE_ATTRIBUTE_REPARSE_POINT;

// What a failed search says about its folder: one that holds no match is
// listed all the same.
FolderState state_after(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_NO_MORE_FILES:
            return FolderState::listed;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_DIRECTORY:
            return FolderState::missing;
        default:
            return FolderState::unreadable;
    }
}

// Calls take(entry) for every entry the pattern matches in the folder.
template <typename Take>
FolderState search(std::string_view folder, std::string_view pattern, Take take) {
    std::string typed(folder);
    typed += pattern;
    WIN32_FIND_DATAW entry;
    HANDLE found = ::FindFirstFileW(system_path(to_wide(typed)).c_str(), &entry);
    if (found == INVALID_HANDLE_VALUE) return state_after(::GetLastError());
    do {
        take(entry);
    } while (::FindNextFileW(found, &entry));
    DWORD error = ::GetLastError();
    ::FindClose(found);
    return error == ERROR_NO_MORE_FILES ? FolderState::listed : FolderState::unreadable;
}

// The worse of two answers about one folder.
FolderState worse(FolderState a, FolderState b) { return a == FolderState::listed ? b : a; }

FolderState search_files(std::string_view folder, std::string_view pattern, std::vector<std::string>& names) {
    return search(folder, pattern, [&](const WIN32_FIND_DATAW& entry) {
        if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | kHiddenOrSystem)) == 0) {
            names.push_back(to_utf8(entry.cFileName));
        }
    });
}


// Which folder it is, asked of a handle that takes it from no one.
FileIdentity identity_of_folder(std::string_view folder) {
    std::wstring system = system_path(folder.empty() ? L"." : to_wide(folder));
    HANDLE handle = ::CreateFileW(system.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FileIdentity identity;
    if (handle == INVALID_HANDLE_VALUE) return identity;
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileInformationByHandle(handle, &information) != 0) {
        identity = {information.dwVolumeSerialNumber, std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow};
    }
    ::CloseHandle(handle);
    return identity;
}

}  // namespace

FolderListing list_folder(std::string_view folder, std::string_view first_pattern, std::string_view second_pattern,
                          bool with_folders) {
    FolderListing listing;
    listing.identity = identity_of_folder(folder);
    listing.state = search_files(folder, first_pattern, listing.first);
    if (!second_pattern.empty()) listing.state = worse(listing.state, search_files(folder, second_pattern, listing.second));
    if (with_folders && listing.state == FolderState::listed) {
        listing.state = search(folder, "*", [&](const WIN32_FIND_DATAW& entry) {
            std::wstring_view name = entry.cFileName;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (entry.dwFileAttributes & kNotWalked) == 0 &&
                name != L"." && name != L"..") {
                listing.folders.push_back(to_utf8(name));
            }
        });
    }
    return listing;
}

// In upper case as the system folds names when it compares them, letter by
// letter whatever the user's locale.
std::string entry_name_key(std::string_view name) {
    std::wstring wide = to_wide(name);
    if (wide.empty()) return {};
    std::wstring upper(wide.size(), L'\0');
    int size = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()),
                               upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
    if (size <= 0) return std::string(name);
    upper.resize(static_cast<std::size_t>(size));
    return to_utf8(upper);
}

}  // namespace kestrane::platform
