// Finding, loading and writing the tag at the end of an open file.
#pragma once

#include <cstdint>

#include "platform/files.h"
#include "tags/tag_record.h"

namespace kestrane {

// Bytes read from a file's end in one go: enough for the footer, an ID3v1
// block and most APEv2 tags, so most tags cost a single read.
inline constexpr std::size_t kTailReadSize = 4096;

// Loads the tag that ends the file into record and sets position to its
// first byte. An APEv2 footer in the last 32 bytes is tried first, then an
// ID3v1 block in the last 128. False, with an empty record, when there is
// no tag; also when a valid footer claims more bytes than the file holds
// (such a file is not looked at for an ID3v1 block).
bool read_tag(TagRecord& record, const platform::OpenFile& file, std::uint64_t& position);

// Writes the record's bytes at position in one write, then cuts the file
// after them if it was longer. False when the record is empty or anything
// fails; the file may then be partly written.
bool write_tag(const TagRecord& record, const platform::OpenFile& file, std::uint64_t position);

}  // namespace kestrane
