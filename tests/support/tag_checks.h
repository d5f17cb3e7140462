// Checks on tag records that the tests and the fuzz target make of what
// read_tag gives.
#pragma once

#include <span>

#include "tags/tag_record.h"

namespace kestrane::testing {

// Whether the record holds what its kind says: no bytes for none, one ID3v1
// block, or one whole APEv2 tag whose footer accounts for every byte.
inline bool is_consistent(const TagRecord& record) {
    switch (record.kind) {
        case TagKind::none:
            return record.bytes.empty();
        case TagKind::id3v1:
            return is_id3v1_block(record.bytes);
        case TagKind::apev2: {
            if (record.bytes.size() < kFooterSize) return false;
            auto footer = decode_ape_footer(
                std::span<const std::uint8_t, kFooterSize>(record.bytes.data() + record.bytes.size() - kFooterSize,
                                                           kFooterSize));
            return footer && is_valid_ape_footer(*footer) && ape_tag_length(*footer) == record.bytes.size();
        }
    }
    return false;
}

}  // namespace kestrane::testing
