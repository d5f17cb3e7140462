// Finding the tags that end a file: where they begin and how long they are,
// read from the file's end.
#pragma once

#include <array>
#include <cstdint>

#include "platform/files.h"
#include "tags/tag_record.h"

namespace kestrane {

// Bytes read from a file's end in one go: enough for the footer, an ID3v1
// block and the tags in front of it in most files, so most files cost a
// single read.
inline constexpr std::size_t kTailReadSize = 4096;

// A file's last kTailReadSize bytes (all of a shorter file).
struct FileTail {
    std::array<std::uint8_t, kTailReadSize> bytes;
    std::size_t length = 0;
};

// Where the tags that end a file lie.
struct TagPlace {
    TagKind kind = TagKind::none;
    std::uint64_t position = 0;  // of their first byte
    std::uint64_t length = 0;
};

// Reads the file's last bytes into tail and finds the tags the file ends
// with. When the last 32 bytes are a valid APEv2 footer, its tag alone.
// Otherwise, when the last 128 bytes are an ID3v1 tag, one block: that tag,
// the Lyrics3v2 block that ends exactly where it begins (if one does), and
// the APEv2 tag whose valid footer ends exactly where they begin (if one
// does and all of it lies in the file).
//
// A footer with the header flag is valid only with "APETAGEX" where its
// size puts the header (size + 32 bytes before the footer's end), or 32
// bytes later, where a size that counts the header puts it; the tag then
// begins at that header. Nothing else of a header is looked at.
//
// False, with a place of kind none, when the file ends in neither; also
// when a valid headerless footer in the last 32 bytes claims more bytes
// than the file holds (such a file is not looked at for an ID3v1 tag), and
// when a read fails. Tags that reach beyond the tail cost small reads in
// front of it: 40 bytes for an APEv2 header's place, 43 for the start of a
// Lyrics3v2 block and the footer in front of it.
bool locate_tag(const platform::OpenFile& file, FileTail& tail, TagPlace& place);

}  // namespace kestrane
