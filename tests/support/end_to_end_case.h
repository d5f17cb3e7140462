// End-to-end cases written once for the POSIX and the Windows tool: the
// files a scratch folder starts with, the runs made in it one after the
// other, the report of each and the files each changes. A case is written as
// a POSIX user types it: '/' between folders, "\n" ending each line; '@'
// stands for the scratch folder's absolute path. kPlatform, which each
// end-to-end test program defines for the tool it runs, says what differs.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/sample_files.h"

namespace kestrane::testing {

struct PlatformProfile {
    // Ends each line of the captured report: "\n", or "\r\n" from a Windows text stream.
    std::string_view line_end;
    // Separate folders in typed paths and in the report, the platform's own first.
    std::string_view separators;
    // Starts a group of option letters as the platform's users type it.
    char option;
    // The folder's absolute path as a user types it.
    std::string (*absolute)(const std::filesystem::path& folder);
    // Write protects the folder's named files: no write permission on POSIX,
    // the read-only attribute on Windows.
    void (*write_protect)(const ScratchFolder& folder, const std::vector<std::string>& names);
    // Hides the folder's named file or folder: its name begins with a dot on
    // POSIX already; Windows sets the hidden attribute.
    void (*hide)(const ScratchFolder& folder, const std::string& name);
    // Gives the file another name: a symbolic link on POSIX, a hard link on Windows.
    void (*another_name)(const std::filesystem::path& file, const std::filesystem::path& name);
    // Holds the file as another program working on it would, until the
    // descriptor returned is closed; null where the tool does not see it held.
    int (*hold)(const std::filesystem::path& file);
};
extern const PlatformProfile kPlatform;

// An option group as the platform's users type it: "-a" on POSIX, "/a" on Windows.
std::string option(std::string_view letters);
// The text with each '/' made the platform's own separator.
std::string with_separators(std::string_view text);
// The text as the tool's standard output carries it.
std::string reported(std::string_view text);

using Files = std::map<std::string, Bytes>;

// Stands in a report for any time of day the tool tells (when a run it
// undoes ran).
inline constexpr const char* kAnyTime = "<time>";

struct Run {
    std::vector<std::string> arguments;
    std::string report;   // what follows the banner (a quiet run, -q, has none)
    int status;           // the exit status
    Files changed = {};   // the files the run writes, with their bytes afterwards
};

struct Case {
    Files files;  // a name ending in '/' is an empty folder
    std::vector<Run> runs;
    // Called once the files are written: links, attributes, ...
    std::function<void(const ScratchFolder&)> prepare = {};
};

// Runs the case in a fresh folder, typing its paths with the separator, and
// expects each run's report, its exit status and the bytes of every file in
// the folder.
void check(const Case& c, char separator = kPlatform.separators.front());

}  // namespace kestrane::testing
