#include "operations.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "gate.h"
#include "unsynced_data.h"
#include "unsynced_entries.h"

namespace testfs {
namespace {

Settings settings;
int root = -1;

// An open file or folder: its backing descriptor and the path it was opened
// by (what a hold on it matches).
struct Handle {
    int fd = -1;
    std::string path;
    DIR* listing = nullptr;
};

Handle* handle_of(const fuse_file_info* fi) { return fi ? reinterpret_cast<Handle*>(fi->fh) : nullptr; }

int keep(fuse_file_info* fi, int fd, const char* path, DIR* listing = nullptr) {
    fi->fh = reinterpret_cast<std::uint64_t>(new Handle{fd, path ? path : "", listing});
    return 0;
}

// The backing path of a path the mount shows: "/a/b" is "a/b", "/" is ".";
// "" for the graveyard, which the mount does not show.
std::string backing(const char* path) {
    std::string relative = path[1] == '\0' ? "." : path + 1;
    std::string graveyard = kGraveyard;
    bool hidden = relative == graveyard || relative.starts_with(graveyard + "/");
    return settings.volatile_mode && hidden ? "" : relative;
}

int status(int result) { return result < 0 ? -errno : 0; }

// Each request: through the gate, then on the backing path; "" gives ENOENT.
#define PASS(op, path)                                  \
    Request request(Op::op, path);                      \
    if (request.refused) return request.refused;        \
    std::string at = backing(path);                     \
    if (at.empty()) return -ENOENT

#define PASS_HANDLE(op, fi)                              \
    Handle* handle = handle_of(fi);                      \
    Request request(Op::op, handle->path.c_str());       \
    if (request.refused) return request.refused

int made(const std::string& at, int result) {
    if (result < 0) return -errno;
    if (settings.volatile_mode) entry_created(at);
    return 0;
}

int op_getattr(const char* path, struct stat* out, fuse_file_info* fi) {
    Handle* handle = handle_of(fi);
    Request request(Op::getattr, handle ? handle->path.c_str() : path);
    if (request.refused) return request.refused;
    int result;
    if (handle) {
        result = ::fstat(handle->fd, out);
    } else {
        std::string at = backing(path);
        if (at.empty()) return -ENOENT;
        result = ::fstatat(root, at.c_str(), out, AT_SYMLINK_NOFOLLOW);
    }
    if (result != 0) return -errno;
    if (settings.volatile_mode && S_ISREG(out->st_mode)) show_unsynced(*out);
    return 0;
}

int op_readlink(const char* path, char* into, size_t size) {
    PASS(readlink, path);
    ssize_t got = ::readlinkat(root, at.c_str(), into, size - 1);
    if (got < 0) return -errno;
    into[got] = '\0';
    return 0;
}

int op_mknod(const char* path, mode_t mode, dev_t device) {
    PASS(mknod, path);
    return made(at, ::mknodat(root, at.c_str(), mode, device));
}

int op_mkdir(const char* path, mode_t mode) {
    PASS(mkdir, path);
    return made(at, ::mkdirat(root, at.c_str(), mode));
}

int op_unlink(const char* path) {
    PASS(unlink, path);
    return settings.volatile_mode ? remove_entry(at, false) : status(::unlinkat(root, at.c_str(), 0));
}

int op_rmdir(const char* path) {
    PASS(rmdir, path);
    return settings.volatile_mode ? remove_entry(at, true) : status(::unlinkat(root, at.c_str(), AT_REMOVEDIR));
}

int op_symlink(const char* target, const char* path) {
    PASS(symlink, path);
    return made(at, ::symlinkat(target, root, at.c_str()));
}

int op_rename(const char* from, const char* to, unsigned int flags) {
    Request request(Op::rename, from, to);
    if (request.refused) return request.refused;
    std::string source = backing(from), target = backing(to);
    if (source.empty() || target.empty()) return -ENOENT;
    if (settings.volatile_mode) return rename_entry(source, target, flags);
    return status(::renameat2(root, source.c_str(), root, target.c_str(), flags));
}

int op_link(const char* from, const char* to) {
    Request request(Op::link, from, to);
    if (request.refused) return request.refused;
    std::string source = backing(from), target = backing(to);
    if (source.empty() || target.empty()) return -ENOENT;
    return made(target, ::linkat(root, source.c_str(), root, target.c_str(), 0));
}

int op_chmod(const char* path, mode_t mode, fuse_file_info* fi) {
    if (fi) {
        PASS_HANDLE(chmod, fi);
        return status(::fchmod(handle->fd, mode));
    }
    PASS(chmod, path);
    return status(::fchmodat(root, at.c_str(), mode, 0));
}

int op_chown(const char* path, uid_t user, gid_t group, fuse_file_info* fi) {
    if (fi) {
        PASS_HANDLE(chown, fi);
        return status(::fchown(handle->fd, user, group));
    }
    PASS(chown, path);
    return status(::fchownat(root, at.c_str(), user, group, AT_SYMLINK_NOFOLLOW));
}

int truncate_file(int fd, off_t length) {
    return settings.volatile_mode ? truncate_unsynced(fd, length) : status(::ftruncate(fd, length));
}

int op_truncate(const char* path, off_t length, fuse_file_info* fi) {
    if (fi) {
        PASS_HANDLE(truncate, fi);
        return truncate_file(handle->fd, length);
    }
    PASS(truncate, path);
    int fd = ::openat(root, at.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return -errno;
    int result = truncate_file(fd, length);
    ::close(fd);
    return result;
}

// Opens the backing file as asked; the kernel keeps the offset for O_APPEND,
// and a truncation is a change like any other.
int open_file(Request& request, const std::string& at, fuse_file_info* fi, const char* path, mode_t mode) {
    int flags = fi->flags & ~(O_CREAT | O_EXCL | O_NOCTTY | O_TRUNC | O_APPEND | O_DIRECT);
    int fd = ::openat(root, at.c_str(), flags | O_CLOEXEC | (fi->flags & O_CREAT), mode);
    if (fd < 0) return -errno;
    if (fi->flags & O_TRUNC) {
        request.count_as_change();
        if (int result = truncate_file(fd, 0); result != 0) {
            ::close(fd);
            return result;
        }
    }
    return keep(fi, fd, path);
}

int op_open(const char* path, fuse_file_info* fi) {
    PASS(open, path);
    return open_file(request, at, fi, path, 0);
}

int op_create(const char* path, mode_t mode, fuse_file_info* fi) {
    PASS(create, path);
    struct stat existing;
    bool exists = ::fstatat(root, at.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && (fi->flags & O_EXCL)) return -EEXIST;
    int result = open_file(request, at, fi, path, mode);
    if (result == 0 && !exists && settings.volatile_mode) entry_created(at);
    return result;
}

int op_read(const char*, char* into, size_t size, off_t at, fuse_file_info* fi) {
    PASS_HANDLE(read, fi);
    if (settings.volatile_mode) return static_cast<int>(read_unsynced(handle->fd, into, size, at));
    ssize_t got = ::pread(handle->fd, into, size, at);
    return got < 0 ? -errno : static_cast<int>(got);
}

int op_write(const char*, const char* bytes, size_t size, off_t at, fuse_file_info* fi) {
    PASS_HANDLE(write, fi);
    if (settings.volatile_mode) return static_cast<int>(write_unsynced(handle->fd, bytes, size, at));
    ssize_t put = ::pwrite(handle->fd, bytes, size, at);
    return put < 0 ? -errno : static_cast<int>(put);
}

int op_statfs(const char* path, struct statvfs* out) {
    PASS(statfs, path);
    return status(::fstatvfs(root, out));
}

int op_flush(const char*, fuse_file_info* fi) {
    PASS_HANDLE(flush, fi);
    return 0;
}

int op_release(const char*, fuse_file_info* fi) {
    Handle* handle = handle_of(fi);
    { Request request(Op::release, handle->path.c_str()); }  // counted and delayed, never refused
    ::close(handle->fd);
    delete handle;
    return 0;
}

int op_fsync(const char*, int, fuse_file_info* fi) {
    PASS_HANDLE(fsync, fi);
    return settings.volatile_mode ? sync_unsynced(handle->fd) : 0;
}

int op_opendir(const char* path, fuse_file_info* fi) {
    PASS(opendir, path);
    int fd = ::openat(root, at.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!listing) {
        int error = errno;
        if (fd >= 0) ::close(fd);
        return -error;
    }
    return keep(fi, fd, path, listing);
}

int op_readdir(const char*, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info* fi,
               fuse_readdir_flags) {
    PASS_HANDLE(readdir, fi);
    ::rewinddir(handle->listing);
    bool at_root = handle->path == "/";
    while (dirent* item = ::readdir(handle->listing)) {
        if (at_root && settings.volatile_mode && std::strcmp(item->d_name, kGraveyard) == 0) continue;
        struct stat shown {};
        shown.st_ino = item->d_ino;
        shown.st_mode = DTTOIF(item->d_type);
        if (fill(buffer, item->d_name, &shown, 0, fuse_fill_dir_flags{}) != 0) break;
    }
    return 0;
}

int op_releasedir(const char*, fuse_file_info* fi) {
    Handle* handle = handle_of(fi);
    { Request request(Op::releasedir, handle->path.c_str()); }
    ::closedir(handle->listing);
    delete handle;
    return 0;
}

int op_fsyncdir(const char*, int, fuse_file_info* fi) {
    PASS_HANDLE(fsyncdir, fi);
    if (settings.volatile_mode) folder_synced(handle->fd);
    return 0;
}

int op_access(const char* path, int mask) {
    PASS(access, path);
    return status(::faccessat(root, at.c_str(), mask, 0));
}

int op_utimens(const char* path, const timespec times[2], fuse_file_info* fi) {
    if (fi) {
        PASS_HANDLE(utimens, fi);
        return status(::futimens(handle->fd, times));
    }
    PASS(utimens, path);
    return status(::utimensat(root, at.c_str(), times, AT_SYMLINK_NOFOLLOW));
}

int op_fallocate(const char*, int mode, off_t at, off_t length, fuse_file_info* fi) {
    PASS_HANDLE(fallocate, fi);
    if (settings.volatile_mode) return allocate_unsynced(handle->fd, mode, at, length);
    return status(::fallocate(handle->fd, mode, at, length));
}

void* op_init(fuse_conn_info*, fuse_config* config) {
    config->use_ino = 1;        // the backing files' inode numbers
    config->hard_remove = 1;    // no hidden renames of open files that are removed
    config->nullpath_ok = 1;    // requests on open files go by their handle
    config->entry_timeout = config->attr_timeout = config->negative_timeout = settings.cache_seconds;
    return nullptr;
}

fuse_operations make_operations() {
    fuse_operations ops{};
    ops.getattr = op_getattr;
    ops.readlink = op_readlink;
    ops.mknod = op_mknod;
    ops.mkdir = op_mkdir;
    ops.unlink = op_unlink;
    ops.rmdir = op_rmdir;
    ops.symlink = op_symlink;
    ops.rename = op_rename;
    ops.link = op_link;
    ops.chmod = op_chmod;
    ops.chown = op_chown;
    ops.truncate = op_truncate;
    ops.open = op_open;
    ops.read = op_read;
    ops.write = op_write;
    ops.statfs = op_statfs;
    ops.flush = op_flush;
    ops.release = op_release;
    ops.fsync = op_fsync;
    ops.opendir = op_opendir;
    ops.readdir = op_readdir;
    ops.releasedir = op_releasedir;
    ops.fsyncdir = op_fsyncdir;
    ops.init = op_init;
    ops.access = op_access;
    ops.create = op_create;
    ops.utimens = op_utimens;
    ops.fallocate = op_fallocate;
    return ops;
}

void lose_unsynced(const Keeping& keeping) {
    lose_unsynced_entries(keeping);
    lose_unsynced_data(keeping);
}

}  // namespace

bool start_operations(const Settings& chosen) {
    settings = chosen;
    root = ::open(settings.backing.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return false;
    if (settings.volatile_mode) {
        on_cut(lose_unsynced);
        return start_entries(settings.backing, root);
    }
    return true;
}

const fuse_operations& operations() {
    static const fuse_operations ops = make_operations();
    return ops;
}

bool sync_everything() {
    std::lock_guard lock(state_lock());
    if (is_cut()) return false;
    if (settings.volatile_mode) {
        sync_all_unsynced_data();
        sync_all_entries();
    }
    return true;
}

void finish_operations() {
    std::lock_guard lock(state_lock());
    if (!settings.volatile_mode) return;
    if (!is_cut()) {
        sync_all_unsynced_data();
        sync_all_entries();
    }
    finish_entries();
}

}  // namespace testfs
