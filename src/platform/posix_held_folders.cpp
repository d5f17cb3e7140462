// Held folders on POSIX systems: a descriptor of the folder, and openat()
// in it (posix_files.cpp).
#include "platform/held_folders.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrane::platform {
namespace {

bool is_listed(const struct stat& status, const FileIdentity& listed) {
    return listed == FileIdentity{} ||
           FileIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)} == listed;
}

}  // namespace

FolderHeld hold_folder(const std::string& folder, const FileIdentity& listed, HeldFolder& held) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno == EMFILE || errno == ENFILE || errno == ENOMEM ? FolderHeld::not_held : FolderHeld::another_folder;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !is_listed(status, listed)) {
        ::close(fd);
        return FolderHeld::another_folder;
    }
    held.handle = fd;
    return FolderHeld::held;
}

void let_go(HeldFolder& held) {
    if (held.handle >= 0) ::close(static_cast<int>(held.handle));
    held.handle = -1;
}

bool leads_to(const std::string& folder, const FileIdentity& listed) {
    struct stat status {};
    return ::stat(folder.empty() ? "." : folder.c_str(), &status) == 0 && is_listed(status, listed);
}

}  // namespace kestrane::platform
