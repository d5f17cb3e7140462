// Finding, loading and writing the tags at the end of an open file.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"
#include "tags/end_block.h"
#include "tags/tag_record.h"

namespace kestrane {

// Loads the located tags into record. Bytes already in the tail are not
// read again: only tags longer than the tail cost one more read, of their
// front part. False, with an empty record, when that read fails.
bool load_tag(const platform::OpenFile& file, const FileTail& tail, const TagPlace& place, TagRecord& record);

// locate_tag and load_tag in one: loads the tags that end the file into
// record and sets position to their first byte.
bool read_tag(TagRecord& record, const platform::OpenFile& file, std::uint64_t& position);

// Asks the system to bring the end of the file, where its tag lies, into
// its cache in the background, for a copy that reads it soon: only on a
// local disk, where the ask costs nothing.
void ask_ahead_for_tag(const std::string& path, const platform::FileFacts& facts);

// Writes the record's bytes at position in one write, then cuts the file
// after them if it was longer. False when the record is empty or anything
// fails; the file may then be partly written.
bool write_tag(const TagRecord& record, const platform::OpenFile& file, std::uint64_t position);

}  // namespace kestrane
