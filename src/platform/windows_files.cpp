// Files on Windows: each file opened without sharing, so no other opener
// (this process included) gets at it while it is open, and read or written
// at 64-bit positions from the start of the file. A file is opened by the
// \\?\ form of its full path, so the name the listing gave is the file
// opened, whatever its length or its last character.
#include "platform/files.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/windows_paths.h"

namespace kestrane::platform {
namespace {

// Largest piece handed to one ReadFile or WriteFile call.
constexpr std::size_t kMaxTransfer = 1u << 30;

FileIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& information) {
    return {information.dwVolumeSerialNumber, std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow};
}

// Moves all size bytes, at most kMaxTransfer at a time, with step(bytes done
// so far, bytes wanted, bytes moved); false on a failure or a transfer of
// nothing.
template <typename Step>
bool transfer_all(std::size_t size, Step step) {
    for (std::size_t done = 0; done < size;) {
        DWORD wanted = static_cast<DWORD>(std::min(size - done, kMaxTransfer));
        DWORD moved = 0;
        if (!step(done, wanted, moved) || moved == 0) return false;
        done += moved;
    }
    return true;
}

HANDLE native(const OpenFile& file) { return reinterpret_cast<HANDLE>(file.handle); }

bool seek_to(HANDLE handle, std::uint64_t offset) {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(handle, distance, nullptr, FILE_BEGIN) != 0;
}

// Handles opened only to learn a file's identity (see look_up_file) are
// open only while this is held shared. Such a handle asks for no access to
// the file's data, which should never make an open without sharing fail;
// should one fail with a sharing violation all the same, it is tried once
// more with this held exclusively: no identity handle is open then, so the
// second answer is the one the run would have had without them.
SRWLOCK identity_handles = SRWLOCK_INIT;

HANDLE create_without_sharing(const std::string& path, DWORD access) {
    std::wstring system_path = system_path_of_listed_file(path);
    auto create = [&] {
        return ::CreateFileW(system_path.c_str(), access, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    };
    HANDLE handle = create();
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION) {
        ::AcquireSRWLockExclusive(&identity_handles);
        handle = create();
        ::ReleaseSRWLockExclusive(&identity_handles);
    }
    return handle;
}

// Opens an existing file without sharing and checks that it is a plain
// file on a disk (not a directory or a device such as NUL or CON). The
// read-only attribute is checked here too: Windows refuses write access to
// such a file by itself, but wine running as root would grant it.
bool open_exclusive(const std::string& path, DWORD access, bool refuse_read_only, OpenFile& file) {
    HANDLE handle = create_without_sharing(path, access);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information{};
    LARGE_INTEGER size{};
    bool usable = ::GetFileType(handle) == FILE_TYPE_DISK &&
                  ::GetFileInformationByHandle(handle, &information) != 0 &&
                  (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                  !(refuse_read_only && (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) &&
                  ::GetFileSizeEx(handle, &size) != 0;
    if (!usable) {
        ::CloseHandle(handle);
        return false;
    }
    file.handle = reinterpret_cast<std::intptr_t>(handle);
    file.length = static_cast<std::uint64_t>(size.QuadPart);
    file.identity = identity_of(information);
    file.may_have_holes = (information.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) != 0;
    return true;
}

}  // namespace

// A held folder can't be renamed or removed: the path leads into it.
bool open_input_file(const std::string& path, OpenFile& file, const HeldFolder*) {
    return open_exclusive(path, GENERIC_READ, false, file);
}

bool open_output_file(const std::string& path, OpenFile& file, const HeldFolder*) {
    return open_exclusive(path, GENERIC_READ | GENERIC_WRITE, true, file);
}

bool read_at(const OpenFile& file, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    return seek_to(native(file), offset) && transfer_all(buffer.size(), [&](std::size_t done, DWORD wanted, DWORD& got) {
               return ::ReadFile(native(file), buffer.data() + done, wanted, &got, nullptr) != 0;
           });
}

bool write_at(const OpenFile& file, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    return seek_to(native(file), offset) && transfer_all(bytes.size(), [&](std::size_t done, DWORD wanted, DWORD& put) {
               return ::WriteFile(native(file), bytes.data() + done, wanted, &put, nullptr) != 0;
           });
}

bool set_file_length(const OpenFile& file, std::uint64_t length) {
    return seek_to(native(file), length) && ::SetEndOfFile(native(file)) != 0;
}

void close_file(OpenFile& file) {
    if (native(file) != INVALID_HANDLE_VALUE) ::CloseHandle(native(file));
    file.handle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

// A handle with no access to the file's data, sharing everything: it takes
// the file from no one, whoever holds it, and tells its volume, index and
// length.
std::optional<FileFacts> look_up_file(const std::string& path) {
    std::wstring system_path = system_path_of_listed_file(path);
    ::AcquireSRWLockShared(&identity_handles);
    HANDLE handle = ::CreateFileW(system_path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::optional<FileFacts> facts;
    if (handle != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION information{};
        if (::GetFileInformationByHandle(handle, &information) != 0) {
            facts = FileFacts{identity_of(information),
                              std::uint64_t{information.nFileSizeHigh} << 32 | information.nFileSizeLow,
                              (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0};
        }
        ::CloseHandle(handle);
    }
    ::ReleaseSRWLockShared(&identity_handles);
    return facts;
}

// Windows has no call that only asks for a file's bytes to be cached: no
// disk is taken for one where asking pays, and nothing is asked.
bool is_on_local_disk(const std::string&, const FileFacts&) { return false; }

void ask_to_read_ahead(const std::string&, std::uint64_t, std::uint64_t) {}

// Handles are limited by memory alone.
std::size_t free_file_descriptors(std::size_t enough) { return enough; }

}  // namespace kestrane::platform
