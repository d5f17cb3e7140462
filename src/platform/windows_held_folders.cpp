// Held folders on Windows: a handle that shares reading and writing but not
// deleting, so the folder can't be renamed, moved or removed while it is
// held; its identity, volume serial and file index, says it is the listed one.
#include "platform/held_folders.h"

#include <windows.h>

#include "platform/windows_paths.h"
#include "platform/windows_text.h"

namespace kestrane::platform {
namespace {

HANDLE open_folder(const std::string& folder, DWORD sharing) {
    std::wstring system = system_path(folder.empty() ? L"." : to_wide(folder));
    return ::CreateFileW(system.c_str(), 0, sharing, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool is_listed(HANDLE handle, const FileIdentity& listed) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileInformationByHandle(handle, &information) == 0) return false;
    FileIdentity found{information.dwVolumeSerialNumber,
                       std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow};
    return listed == FileIdentity{} || found == listed;
}

}  // namespace

FolderHeld hold_folder(const std::string& folder, const FileIdentity& listed, HeldFolder& held) {
    HANDLE handle = open_folder(folder, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (handle == INVALID_HANDLE_VALUE) {
        // Another opener that does not share deleting (another run holding
        // it) is no sign of another folder.
        return ::GetLastError() == ERROR_SHARING_VIOLATION ? FolderHeld::not_held : FolderHeld::another_folder;
    }
    if (!is_listed(handle, listed)) {
        ::CloseHandle(handle);
        return FolderHeld::another_folder;
    }
    held.handle = reinterpret_cast<std::intptr_t>(handle);
    return FolderHeld::held;
}

void let_go(HeldFolder& held) {
    if (held.handle != -1) ::CloseHandle(reinterpret_cast<HANDLE>(held.handle));
    held.handle = -1;
}

bool leads_to(const std::string& folder, const FileIdentity& listed) {
    HANDLE handle = open_folder(folder, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool listed_one = is_listed(handle, listed);
    ::CloseHandle(handle);
    return listed_one;
}

}  // namespace kestrane::platform
