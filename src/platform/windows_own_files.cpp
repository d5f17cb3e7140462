// The tool's own files on Windows.
#include "platform/own_files.h"

#include <windows.h>

#include "platform/windows_paths.h"
#include "platform/windows_text.h"

namespace kestrane::platform {

// XDG_STATE_HOME, when set, as on other systems (a user who keeps state
// elsewhere, or a test); else LOCALAPPDATA, which every Windows user has.
std::optional<std::string> state_folder() {
    std::wstring base;
    for (const wchar_t* name : {L"XDG_STATE_HOME", L"LOCALAPPDATA"}) {
        wchar_t value[MAX_PATH];
        DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            base.assign(value, length);
            break;
        }
    }
    if (base.empty()) return std::nullopt;
    std::wstring folder = full_path(base + L"\\kestrane");
    if (!::CreateDirectoryW(system_path(folder).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return std::nullopt;
    }
    return to_utf8(folder) + "\\";
}

bool create_new_file(const std::string& path, OpenFile& file) {
    HANDLE handle = ::CreateFileW(system_path(to_wide(path)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    file.handle = reinterpret_cast<std::intptr_t>(handle);
    file.length = 0;
    return true;
}

bool sync_file(const OpenFile& file) { return ::FlushFileBuffers(reinterpret_cast<HANDLE>(file.handle)) != 0; }

// Opened sharing everything, so that another run holding it is no bar.
bool sync_file_at(const std::string& path) {
    HANDLE handle = ::CreateFileW(system_path(to_wide(path)).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool synced = ::FlushFileBuffers(handle) != 0;
    ::CloseHandle(handle);
    return synced;
}

// NTFS keeps its folders' names in its own journal.
void sync_folder(const std::string&) {}

// Notes are written here: a mapping's view can't grow with the file.
bool map_room(const OpenFile&, std::uint64_t, std::uint64_t, MappedRoom&) { return false; }

void unmap_room(MappedRoom& room) { room = {}; }

bool rename_file(const std::string& from, const std::string& to) {
    return ::MoveFileExW(system_path(to_wide(from)).c_str(), system_path(to_wide(to)).c_str(),
                         MOVEFILE_REPLACE_EXISTING) != 0;
}

bool remove_file(const std::string& path) { return ::DeleteFileW(system_path(to_wide(path)).c_str()) != 0; }

std::string absolute_path(const std::string& path) { return to_utf8(full_path(to_wide(path))); }

std::uint64_t process_id() { return ::GetCurrentProcessId(); }

}  // namespace kestrane::platform
