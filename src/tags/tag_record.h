// The in-memory form of one tag that ends an audio file, and the layout
// constants of the two tag formats the tool knows.
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

enum class TagKind { none, apev2, id3v1 };

// One tag exactly as stored: for APEv2 the header (when the tag has one),
// the items and the footer; for ID3v1 the 128-byte block. A record is
// either none with no bytes, or one tag of one kind; it owns its bytes.
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

// Whether a decoded footer describes a tag this tool accepts.
bool is_valid_ape_footer(const ApeFooter& footer);

// How many bytes the tag occupies at the end of its file: size plus the
// header when the footer says there is one.
std::uint64_t ape_tag_length(const ApeFooter& footer);

// Whether the 128 bytes are an ID3v1 block.
bool is_id3v1_block(std::span<const std::uint8_t> bytes);

}  // namespace kestrane
