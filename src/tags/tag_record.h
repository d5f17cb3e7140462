// The in-memory form of the tags that end an audio file, and the layouts of
// the tag formats the tool knows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrane {

// An APEv2 tag's footer and its optional header are 32 bytes each.
inline constexpr std::size_t kFooterSize = 32;
inline constexpr std::size_t kHeaderSize = 32;
inline constexpr std::size_t kId3v1Size = 128;   // ID3v1 block
inline constexpr std::uint32_t kApeVersion = 2000;
// The footer's size field must stay below 256 MiB: room for the cover art
// tags embed, while a tag's load (it is read whole) stays bounded.
inline constexpr std::uint32_t kMaxApeSize = 0x10000000;
inline constexpr std::uint32_t kHeaderPresentFlag = 0x80000000u;
// A Lyrics3v2 block opens with "LYRICSBEGIN" and closes with six ASCII
// digits (its size from "LYRICSBEGIN" up to them) and "LYRICS200".
inline constexpr std::size_t kLyrics3v2BeginSize = 11;
inline constexpr std::size_t kLyrics3v2EndSize = 15;

// What ends a file: an APEv2 tag alone, or an ID3v1 tag together with the
// Lyrics3v2 block and the APEv2 tag that stand right in front of it, when
// they do (one block, in the file's order).
enum class TagKind { none, apev2, id3v1 };

// The tags that end a file exactly as stored: an APEv2 tag (its header
// when it has one, the items and the footer), or the block that ends in an
// ID3v1 tag. A record is either none with no bytes, or one of the two
// kinds; it owns its bytes.
struct TagRecord {
    TagKind kind = TagKind::none;
    std::vector<std::uint8_t> bytes;
};

// A tag as a dry run remembers it: its kind, its length and a digest of its
// bytes, enough to tell it from another tag without keeping either.
struct TagFingerprint {
    TagKind kind = TagKind::none;
    std::uint64_t length = 0;
    std::uint64_t digest = 0;
    friend bool operator==(const TagFingerprint&, const TagFingerprint&) = default;
};

TagFingerprint fingerprint_of(const TagRecord& record);

// The fields of an APEv2 footer that decide whether a tag is there.
struct ApeFooter {
    std::uint32_t version = 0;
    std::uint32_t size = 0;        // items plus footer, header not counted
    std::uint32_t item_count = 0;
    std::uint32_t flags = 0;
};

// Decodes the 32 footer bytes; none unless they start with "APETAGEX".
std::optional<ApeFooter> decode_ape_footer(std::span<const std::uint8_t, kFooterSize> bytes);

// Whether a decoded footer's fields describe a tag this tool accepts (where
// its header is, if it has one, is judged by the caller).
bool is_valid_ape_footer(const ApeFooter& footer);

// Whether the footer says its tag has a header (flags bit 31).
bool has_ape_header(const ApeFooter& footer);

// Whether the bytes begin with "APETAGEX", as a header and a footer do.
bool starts_with_ape_preamble(std::span<const std::uint8_t> bytes);

// Whether the 128 bytes are an ID3v1 block.
bool is_id3v1_block(std::span<const std::uint8_t> bytes);

// The size a Lyrics3v2 block's last 15 bytes give (from its "LYRICSBEGIN"
// up to its six digits); none unless they are six ASCII digits and
// "LYRICS200".
std::optional<std::uint32_t> decode_lyrics3v2_end(std::span<const std::uint8_t, kLyrics3v2EndSize> bytes);

// Whether the bytes begin with "LYRICSBEGIN".
bool starts_with_lyrics3v2_begin(std::span<const std::uint8_t> bytes);

}  // namespace kestrane
