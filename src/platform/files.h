// Files: opening an existing file held by this run alone, reading and
// writing it at positions, cutting it, closing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kestrane::platform {

struct HeldFolder;

// Which file a file is, whatever name it was reached by: the device and
// inode number on POSIX systems, the volume serial number and file index on
// Windows.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};

// An open file: its native handle, the length it had when it was opened,
// which file it is, and whether it may hold holes (it takes less room on
// the disk than its length).
struct OpenFile {
    std::intptr_t handle = -1;
    std::uint64_t length = 0;
    FileIdentity identity;
    bool may_have_holes = false;
};

// Opens an existing regular file for reading, held exclusively until it is
// closed. False when it is missing, not a regular file, or already held.
// Given the held folder of the path's folder part, the file is opened in
// that folder by its name (held_folders.h).
bool open_input_file(const std::string& path, OpenFile& file, const HeldFolder* folder = nullptr);

// Opens an existing regular file for reading and writing, held exclusively
// until it is closed. False as for an input, and also when the file is
// write protected.
bool open_output_file(const std::string& path, OpenFile& file, const HeldFolder* folder = nullptr);

// Reads exactly buffer.size() bytes starting at offset; false on any
// failure or shortfall.
bool read_at(const OpenFile& file, std::uint64_t offset, std::span<std::uint8_t> buffer);

// Writes all of bytes starting at offset; false on any failure or shortfall.
bool write_at(const OpenFile& file, std::uint64_t offset, std::span<const std::uint8_t> bytes);

// Sets the file's length (cuts it off or extends it).
bool set_file_length(const OpenFile& file, std::uint64_t length);

// Closes the file; harmless on a file that is not open.
void close_file(OpenFile& file);

// What a look at a path tells of the file it names now, without opening it.
struct FileFacts {
    FileIdentity identity;
    std::uint64_t length = 0;
    bool regular = false;  // a regular file (not a folder, a device, a FIFO)
};

// Looks at the file the path names now, symbolic links followed, without
// taking it from anyone; none when that can't be told (the file is missing,
// say). Safe on any thread.
std::optional<FileFacts> look_up_file(const std::string& path);

// Whether the file lies on a local disk, where asking the system to read
// ahead costs nothing (on a network share each ask is a round trip of its
// own). Asked of the system once a volume.
bool is_on_local_disk(const std::string& path, const FileFacts& facts);

// Asks the system to read count bytes from offset into its cache in the
// background, for a read that comes soon, and returns at once; opens the
// file for that without blocking and without a lock. Nothing where the
// system has no such call.
void ask_to_read_ahead(const std::string& path, std::uint64_t offset, std::uint64_t count);

// How many more files the process could open now, counted up to `enough`
// (`enough` where nothing but memory limits it).
std::size_t free_file_descriptors(std::size_t enough);

}  // namespace kestrane::platform
