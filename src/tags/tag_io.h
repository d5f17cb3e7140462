// Finding, loading and writing the tag at the end of an open file.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/files.h"
#include "tags/tag_record.h"

namespace kestrane {

// Bytes read from a file's end in one go: enough for the footer, an ID3v1
// block and most APEv2 tags, so most tags cost a single read.
inline constexpr std::size_t kTailReadSize = 4096;

// A file's last kTailReadSize bytes (all of a shorter file).
struct FileTail {
    std::array<std::uint8_t, kTailReadSize> bytes;
    std::size_t length = 0;
};

// Where the tag that ends a file lies.
struct TagPlace {
    TagKind kind = TagKind::none;
    std::uint64_t position = 0;  // of its first byte
    std::uint64_t length = 0;
};

// Reads the file's last bytes into tail and finds the tag they end with: an
// APEv2 footer in the last 32 bytes is tried first, then an ID3v1 block in
// the last 128. False, with a place of kind none, when there is no tag; also
// when a valid footer claims more bytes than the file holds (such a file is
// not looked at for an ID3v1 block).
bool locate_tag(const platform::OpenFile& file, FileTail& tail, TagPlace& place);

// Loads the located tag into record. Bytes already in the tail are not read
// again: only a tag longer than the tail costs a second read, of its front
// part. False, with an empty record, when that read fails.
bool load_tag(const platform::OpenFile& file, const FileTail& tail, const TagPlace& place, TagRecord& record);

// locate_tag and load_tag in one: loads the tag that ends the file into
// record and sets position to its first byte.
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
