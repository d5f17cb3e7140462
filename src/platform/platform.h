// The one interface between the tool and the operating system.
//
// Every mechanism that differs between platforms lives behind these
// functions: files, directory listing, standard output, interrupts and the
// console. (Facts of the platform, such as its path separators, are the
// constants of facts.h.) The POSIX implementation is in posix_*.cpp, the
// Windows one in windows_*.cpp; exactly one of the two is compiled into a
// build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane::platform {

// Which file a file is, whatever name it was reached by: the device and
// inode number on POSIX systems, the volume serial number and file index on
// Windows.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};

// An open file: its native handle, the length it had when it was opened,
// and which file it is.
struct OpenFile {
    std::intptr_t handle = -1;
    std::uint64_t length = 0;
    FileIdentity identity;
};

// Opens an existing regular file for reading, held exclusively until it is
// closed. False when it is missing, not a regular file, or already held.
bool open_input_file(const std::string& path, OpenFile& file);

// Opens an existing regular file for reading and writing, held exclusively
// until it is closed. False as for an input, and also when the file is
// write protected.
bool open_output_file(const std::string& path, OpenFile& file);

// Reads exactly buffer.size() bytes starting at offset; false on any
// failure or shortfall.
bool read_at(const OpenFile& file, std::uint64_t offset, std::span<std::uint8_t> buffer);

// Writes all of bytes starting at offset; false on any failure or shortfall.
bool write_at(const OpenFile& file, std::uint64_t offset, std::span<const std::uint8_t> bytes);

// Sets the file's length (cuts it off or extends it).
bool set_file_length(const OpenFile& file, std::uint64_t length);

// Closes the file; harmless on a file that is not open.
void close_file(OpenFile& file);

// Brings the last count bytes of a regular file into the system's cache, for
// a read of them that comes soon. Opens for reading only, takes no lock and
// shares the file with every other opener; never waits for a FIFO or a
// device; ignores every error. Safe on any thread. True when the bytes were
// found in the cache already (false when that is not known).
bool warm_file_end(const std::string& path, std::size_t count);

// Names (without directory) of the regular, non-hidden files matching the
// last component of the specification, which may hold '*' and '?'. Letter
// case is ignored, except that on POSIX a specification without wildcards
// gives only the file of exactly that name when there is one.
// Empty when nothing matches or the directory can't be read.
std::vector<std::string> list_matching_files(const std::string& specification);

// The names matching each of two specifications, exactly as two calls of
// list_matching_files give them; a directory both name is read only once.
struct MatchingFiles {
    std::vector<std::string> first;
    std::vector<std::string> second;
};
MatchingFiles list_matching_files(const std::string& first_specification,
                                  const std::string& second_specification);

// The arguments after the program's name, as UTF-8 on Windows (taken from
// the wide command line, which holds every character the user typed) and
// as the bytes the program was given on POSIX systems.
std::vector<std::string> command_line_arguments(int argc, char** argv);

// Sets up standard output (buffering, line ends) and the process for a run:
// the first thing the tool does. On POSIX it also opens any closed standard
// descriptor on /dev/null, so no user's file can become one.
void init_output();

// Writes report text (UTF-8) to standard output: '\n' ends a line, and the
// platform turns it into its own line end (and, on Windows, its own
// encoding). Buffered in blocks unless standard output is a terminal. A
// write that fails (the reader has gone) never ends the run; on POSIX the
// rest of the report is then skipped, not retried.
void write_output(std::string_view text);

// Writes everything still buffered on standard output.
void flush_output();

// Prepares the console's input before files are touched.
void init_console();

// Brackets a change to a user's file: an interrupt that arrives inside takes
// effect only at the matching end_file_change(), so a file is never left
// half written by the interrupt key.
void begin_file_change();
void end_file_change();

// Threads started between these two calls never handle an interrupt: they
// start with it blocked. Meanwhile an interrupt for the calling thread waits
// and takes effect at end_starting_threads().
void begin_starting_threads();
void end_starting_threads();

}  // namespace kestrane::platform
