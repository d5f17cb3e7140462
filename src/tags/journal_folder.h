// The journals in the tool's state folder: their names and headers, which
// runs left theirs unfinished, which are kept for --undo, and the bound on
// what is kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace kestrane {

// What is kept for --undo: the journals of the last kJournalsKept runs
// that changed outputs, kJournalBound bytes together at most; the oldest
// go first. A run whose own notes pass the bound keeps the rest only while
// it needs them (until each change is made).
inline constexpr std::size_t kJournalsKept = 10;
inline constexpr std::uint64_t kJournalBound = std::uint64_t{1} << 30;

// A run's journal is "<started>-<process>.journal" while the run may still
// be under way or was cut short, and ".done" once it finished; the notes
// past the bound go to the same name + ".overflow".
inline constexpr std::string_view kUnfinished = ".journal";
inline constexpr std::string_view kFinished = ".done";
inline constexpr std::string_view kOverflow = ".overflow";

struct JournalHeader {
    std::uint64_t started = 0;  // nanoseconds since 1970
    std::uint64_t process = 0;
    bool undoes = false;        // the run put back the changes of another (--undo)
    std::string description;    // where it ran and its command line, to tell the run by
};

std::string journal_name(const JournalHeader& header);
std::vector<std::uint8_t> encode_header(const JournalHeader& header);
// The header at the file's start; sets next to the offset of the first change.
std::optional<JournalHeader> decode_header(const platform::OpenFile& file, std::uint64_t& next);

// Where each whole change stands in the file, in the order noted: a change
// a run was cut short in the middle of noting is none (it never began).
std::vector<std::uint64_t> change_offsets(const platform::OpenFile& file, std::uint64_t first);

// Journal file names in the folder (without the folder), oldest first.
std::vector<std::string> journals_in(const std::string& folder, std::string_view ending);

// Removes the oldest finished journals until what is left is within the bound.
void keep_within_bound(const std::string& folder);

}  // namespace kestrane
