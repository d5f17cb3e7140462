// Checks on tag records that the tests and the fuzz target make of what
// read_tag gives.
#pragma once

#include <span>

#include "tags/tag_record.h"

namespace kestrane::testing {

// Whether the bytes are one whole APEv2 tag: a valid footer whose size
// (and header, when it says it has one, counted or not) accounts for them.
inline bool is_whole_ape_tag(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kFooterSize) return false;
    auto footer = decode_ape_footer(bytes.last<kFooterSize>());
    if (!footer || !is_valid_ape_footer(*footer)) return false;
    if (!has_ape_header(*footer)) return bytes.size() == footer->size;
    bool counted = bytes.size() == footer->size && footer->size >= kHeaderSize + kFooterSize;
    return (bytes.size() == footer->size + kHeaderSize || counted) && starts_with_ape_preamble(bytes);
}

// Whether the record holds what its kind says: no bytes for none, one whole
// APEv2 tag, or an ID3v1 block with, in front of it, a Lyrics3v2 block
// and an APEv2 tag or either or none.
inline bool is_consistent(const TagRecord& record) {
    std::span<const std::uint8_t> bytes = record.bytes;
    switch (record.kind) {
        case TagKind::none:
            return bytes.empty();
        case TagKind::apev2:
            return is_whole_ape_tag(bytes);
        case TagKind::id3v1: {
            if (bytes.size() < kId3v1Size || !is_id3v1_block(bytes.last(kId3v1Size))) return false;
            std::span<const std::uint8_t> front = bytes.first(bytes.size() - kId3v1Size);
            if (front.size() >= kLyrics3v2EndSize) {
                auto size = decode_lyrics3v2_end(front.last<kLyrics3v2EndSize>());
                if (size && *size >= kLyrics3v2BeginSize && *size + kLyrics3v2EndSize <= front.size() &&
                    starts_with_lyrics3v2_begin(front.last(*size + kLyrics3v2EndSize))) {
                    front = front.first(front.size() - *size - kLyrics3v2EndSize);
                }
            }
            return front.empty() || is_whole_ape_tag(front);
        }
    }
    return false;
}

}  // namespace kestrane::testing
