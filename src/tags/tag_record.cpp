#include "tags/tag_record.h"

#include <algorithm>
#include <string_view>

namespace kestrane {
namespace {

constexpr std::string_view kApePreamble = "APETAGEX";

// Where each field of the APEv2 footer starts; all are 32-bit little-endian
// numbers after the 8-byte preamble, and the last 8 bytes are reserved.
constexpr std::size_t kVersionOffset = 8;
constexpr std::size_t kSizeOffset = 12;
constexpr std::size_t kItemCountOffset = 16;
constexpr std::size_t kFlagsOffset = 20;
constexpr std::string_view kId3v1Marker = "TAG";
constexpr std::string_view kLyrics3v2Begin = "LYRICSBEGIN";
constexpr std::string_view kLyrics3v2End = "LYRICS200";
constexpr std::size_t kLyrics3v2Digits = 6;

std::uint32_t little_endian_32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool starts_with(std::span<const std::uint8_t> bytes, std::string_view text) {
    return bytes.size() >= text.size() &&
           std::equal(text.begin(), text.end(), bytes.begin(),
                      [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
}

}  // namespace

std::optional<ApeFooter> decode_ape_footer(std::span<const std::uint8_t, kFooterSize> bytes) {
    if (!starts_with(bytes, kApePreamble)) return std::nullopt;
    ApeFooter footer;
    footer.version = little_endian_32(bytes.data() + kVersionOffset);
    footer.size = little_endian_32(bytes.data() + kSizeOffset);
    footer.item_count = little_endian_32(bytes.data() + kItemCountOffset);
    footer.flags = little_endian_32(bytes.data() + kFlagsOffset);
    // the reserved bytes are not examined
    return footer;
}

bool is_valid_ape_footer(const ApeFooter& footer) {
    return footer.version == kApeVersion && footer.item_count != 0 && footer.size > kFooterSize &&
           footer.size < kMaxApeSize;
}

bool has_ape_header(const ApeFooter& footer) { return (footer.flags & kHeaderPresentFlag) != 0; }

bool starts_with_ape_preamble(std::span<const std::uint8_t> bytes) { return starts_with(bytes, kApePreamble); }

// FNV-1a over the bytes: two different tags of one length share a digest
// with a chance of one in 2^64.
TagFingerprint fingerprint_of(const TagRecord& record) {
    std::uint64_t digest = 0xcbf29ce484222325u;
    for (std::uint8_t byte : record.bytes) digest = (digest ^ byte) * 0x100000001b3u;
    return {record.kind, record.bytes.size(), digest};
}

bool is_id3v1_block(std::span<const std::uint8_t> bytes) {
    return bytes.size() == kId3v1Size && starts_with(bytes, kId3v1Marker);
}

std::optional<std::uint32_t> decode_lyrics3v2_end(std::span<const std::uint8_t, kLyrics3v2EndSize> bytes) {
    if (!starts_with(bytes.subspan(kLyrics3v2Digits), kLyrics3v2End)) return std::nullopt;
    std::uint32_t size = 0;
    for (std::uint8_t digit : bytes.first<kLyrics3v2Digits>()) {
        if (digit < '0' || digit > '9') return std::nullopt;
        size = size * 10 + (digit - '0');
    }
    return size;
}

bool starts_with_lyrics3v2_begin(std::span<const std::uint8_t> bytes) { return starts_with(bytes, kLyrics3v2Begin); }

}  // namespace kestrane
