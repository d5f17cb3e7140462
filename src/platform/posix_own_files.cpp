// The tool's own files on POSIX systems.
#include "platform/own_files.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrane::platform {
namespace {

// Makes each missing folder of the path, for this user alone.
bool make_folders(const std::string& path) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        std::string folder = path.substr(0, at);
        if (::mkdir(folder.c_str(), 0700) == 0) {
            sync_folder(folder.substr(0, folder.rfind('/') + 1));  // its name on the disk, for a journal made in it
        } else if (errno != EEXIST) {
            return false;
        }
    }
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string home_folder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') return home;
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
}

}  // namespace

// XDG_STATE_HOME counts only when it is an absolute path.
std::optional<std::string> state_folder() {
    std::string base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
        base = state;
    } else {
        std::string home = home_folder();
        if (home.empty()) return std::nullopt;
        base = home + "/.local/state";
    }
    std::string folder = base + "/kestrane";
    if (!make_folders(folder)) return std::nullopt;
    return folder + "/";
}

bool create_new_file(const std::string& path, OpenFile& file) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) == 0) {
        file.identity = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    }
    file.handle = fd;
    file.length = 0;
    return true;
}

bool sync_file(const OpenFile& file) { return ::fdatasync(static_cast<int>(file.handle)) == 0; }

bool sync_file_at(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    bool synced = ::fdatasync(fd) == 0;
    ::close(fd);
    return synced;
}

void sync_folder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// The room is reserved first (posix_fallocate), so that a full disk is told
// now and never as a fault of a page copied into later.
bool map_room(const OpenFile& file, std::uint64_t from, std::uint64_t length, MappedRoom& room) {
    int fd = static_cast<int>(file.handle);
    auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    std::uint64_t start = from / page * page;
    if (::posix_fallocate(fd, static_cast<off_t>(start), static_cast<off_t>(from + length - start)) != 0) return false;
    void* base = ::mmap(nullptr, from + length - start, PROT_READ | PROT_WRITE, MAP_SHARED, fd, static_cast<off_t>(start));
    if (base == MAP_FAILED) return false;
    room = {static_cast<std::uint8_t*>(base) + (from - start), from, length, base, from + length - start};
    return true;
}

void unmap_room(MappedRoom& room) {
    if (room.base != nullptr) ::munmap(room.base, room.mapped);
    room = {};
}

bool rename_file(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

// The current folder is asked once: the run does not change it.
std::string absolute_path(const std::string& path) {
    if (!path.empty() && path.front() == '/') return path;
    static const std::string current = [] {
        char* folder = ::getcwd(nullptr, 0);
        std::string text = folder != nullptr ? folder : ".";
        std::free(folder);
        return text;
    }();
    return current + (current.ends_with('/') ? "" : "/") + path;
}

std::uint64_t process_id() { return static_cast<std::uint64_t>(::getpid()); }

}  // namespace kestrane::platform
