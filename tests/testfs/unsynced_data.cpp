#include "unsynced_data.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace testfs {
namespace {

constexpr off_t kPage = 4096;

struct UnsyncedFile {
    int fd = -1;      // the backing file, opened anew for reading and writing
    off_t length = 0; // the length programs see
    off_t kept = 0;   // backing bytes below this show where no page covers them; zeros above
    std::map<off_t, std::vector<char>> pages;  // by page number; bytes past length are zeros
    timespec changed{};
    std::uint64_t number = 0;  // files numbered from 1 in the order their unsynced state began
};

std::map<Identity, UnsyncedFile> files;
std::uint64_t files_begun = 0;

bool identity(int fd, Identity& result) {
    struct stat status;
    if (::fstat(fd, &status) != 0) return false;
    result = identity_of(status);
    return true;
}

UnsyncedFile* find(int fd) {
    Identity file;
    if (!identity(fd, file)) return nullptr;
    auto found = files.find(file);
    return found == files.end() ? nullptr : &found->second;
}

// The file's unsynced state, begun from the backing file when there is none;
// nullptr with errno set when the backing file cannot be opened again.
UnsyncedFile* begin(int fd) {
    struct stat status;
    if (::fstat(fd, &status) != 0) return nullptr;
    auto [found, fresh] = files.try_emplace(identity_of(status));
    if (fresh) {
        // Through /proc: the same file, even unlinked, read-write whatever fd allows.
        std::string self = "/proc/self/fd/" + std::to_string(fd);
        found->second.fd = ::open(self.c_str(), O_RDWR | O_CLOEXEC);
        if (found->second.fd < 0) {
            int error = errno;
            files.erase(found);
            errno = error;
            return nullptr;
        }
        found->second.length = found->second.kept = status.st_size;
        found->second.number = ++files_begun;
    }
    ::clock_gettime(CLOCK_REALTIME, &found->second.changed);
    return &found->second;
}

// Fills into (zeroed by the caller) with the backing bytes that still show.
void read_backing(const UnsyncedFile& file, off_t at, char* into, off_t count) {
    for (off_t done = 0; at + done < file.kept && done < count;) {
        ssize_t got = ::pread(file.fd, into + done, static_cast<size_t>(std::min(count, file.kept - at) - done),
                              at + done);
        if (got <= 0) return;  // a short backing file reads as zeros
        done += got;
    }
}

std::vector<char>& page(UnsyncedFile& file, off_t number) {
    auto [found, fresh] = file.pages.try_emplace(number);
    if (fresh) {
        found->second.assign(kPage, 0);
        read_backing(file, number * kPage, found->second.data(), kPage);
    }
    return found->second;
}

int write_back(UnsyncedFile& file) {
    struct stat status;
    if (::fstat(file.fd, &status) != 0) return -errno;
    if (status.st_size > file.kept && ::ftruncate(file.fd, file.kept) != 0) return -errno;
    for (auto& [number, bytes] : file.pages) {
        off_t at = number * kPage;
        if (at >= file.length) break;
        size_t size = static_cast<size_t>(std::min(kPage, file.length - at));
        if (::pwrite(file.fd, bytes.data(), size, at) != static_cast<ssize_t>(size)) return errno ? -errno : -EIO;
    }
    if (::ftruncate(file.fd, file.length) != 0) return -errno;
    ::close(file.fd);
    return 0;
}

// What reached the disk of the file's unsynced state before the power went:
// its length change or not, and pages, each clipped to the length kept.
void write_kept(const UnsyncedFile& file, const Keeping& keeping) {
    struct stat status;
    if (!keeping.by_chance || ::fstat(file.fd, &status) != 0) return;
    off_t length = status.st_size;
    bool length_changed = file.length != length || file.kept < length;
    if (length_changed && keeping.keeps(Piece::length, file.number)) {
        // A shortening freed the blocks past kept: what no kept page covers there reads as zeros.
        if (::ftruncate(file.fd, std::min(file.kept, length)) != 0 || ::ftruncate(file.fd, file.length) != 0) return;
        length = file.length;
    }
    for (const auto& [number, bytes] : file.pages) {
        off_t at = number * kPage;
        if (at >= length) break;
        if (!keeping.keeps(Piece::page, file.number, static_cast<std::uint64_t>(number))) continue;
        if (::pwrite(file.fd, bytes.data(), static_cast<size_t>(std::min(kPage, length - at)), at) < 0) return;
    }
}

}  // namespace

Identity identity_of(const struct stat& status) { return Identity{status.st_dev, status.st_ino}; }

ssize_t read_unsynced(int fd, char* into, size_t size, off_t at) {
    UnsyncedFile* file = find(fd);
    if (!file) {
        ssize_t got = ::pread(fd, into, size, at);
        return got < 0 ? -errno : got;
    }
    if (at >= file->length) return 0;
    off_t count = std::min(static_cast<off_t>(size), file->length - at);
    std::memset(into, 0, static_cast<size_t>(count));
    for (off_t done = 0; done < count;) {
        off_t where = at + done;
        off_t in_page = where % kPage;
        off_t piece = std::min(kPage - in_page, count - done);
        auto found = file->pages.find(where / kPage);
        if (found != file->pages.end()) {
            std::memcpy(into + done, found->second.data() + in_page, static_cast<size_t>(piece));
        } else {
            read_backing(*file, where, into + done, piece);
        }
        done += piece;
    }
    return count;
}

ssize_t write_unsynced(int fd, const char* bytes, size_t size, off_t at) {
    UnsyncedFile* file = begin(fd);
    if (!file) return -errno;
    off_t count = static_cast<off_t>(size);
    for (off_t done = 0; done < count;) {
        off_t where = at + done;
        off_t in_page = where % kPage;
        off_t piece = std::min(kPage - in_page, count - done);
        std::memcpy(page(*file, where / kPage).data() + in_page, bytes + done, static_cast<size_t>(piece));
        done += piece;
    }
    file->length = std::max(file->length, at + count);
    return count;
}

int truncate_unsynced(int fd, off_t length) {
    UnsyncedFile* file = begin(fd);
    if (!file) return -errno;
    if (length < file->length) {
        file->pages.erase(file->pages.lower_bound((length + kPage - 1) / kPage), file->pages.end());
        if (auto partial = file->pages.find(length / kPage); partial != file->pages.end()) {
            std::fill(partial->second.begin() + length % kPage, partial->second.end(), 0);
        }
        file->kept = std::min(file->kept, length);
    }
    file->length = length;
    return 0;
}

int allocate_unsynced(int fd, int mode, off_t at, off_t length) {
    if (mode & ~FALLOC_FL_KEEP_SIZE) return -EOPNOTSUPP;
    if (mode != 0) return 0;  // room only: nothing to see
    struct stat status;
    if (::fstat(fd, &status) != 0) return -errno;
    show_unsynced(status);
    return at + length > status.st_size ? truncate_unsynced(fd, at + length) : 0;
}

int sync_unsynced(int fd) {
    Identity file;
    if (!identity(fd, file)) return -errno;
    auto found = files.find(file);
    if (found == files.end()) return 0;
    int result = write_back(found->second);
    if (result == 0) files.erase(found);
    return result;
}

void show_unsynced(struct stat& status) {
    auto found = files.find(identity_of(status));
    if (found == files.end()) return;
    const UnsyncedFile& file = found->second;
    blkcnt_t kept_blocks = std::min<blkcnt_t>(status.st_blocks, (file.kept + 511) / 512);
    status.st_blocks = kept_blocks + static_cast<blkcnt_t>(file.pages.size()) * (kPage / 512);
    status.st_size = file.length;
    status.st_mtim = status.st_ctim = file.changed;
}

void sync_all_unsynced_data() {
    for (auto& [identity, file] : files) {
        if (write_back(file) != 0) ::close(file.fd);
    }
    files.clear();
}

void lose_unsynced_data(const Keeping& keeping) {
    for (auto& [identity, file] : files) {
        write_kept(file, keeping);
        ::close(file.fd);
    }
    files.clear();
}

}  // namespace testfs
