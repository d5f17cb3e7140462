#include "tags/tag_io.h"

#include <algorithm>
#include <array>

namespace kestrane {
namespace {

using Bytes = std::span<const std::uint8_t>;

// Loads an APEv2 tag whose valid footer ends tail (the file's last bytes).
// Bytes already in tail are not read again; only a tag longer than the
// tail costs a second read, of its front part.
bool load_ape_tag(TagRecord& record, const platform::OpenFile& file, Bytes tail, std::uint64_t tag_length,
                  std::uint64_t& position) {
    if (tag_length > file.length) return false;
    record.bytes.resize(static_cast<std::size_t>(tag_length));
    std::size_t from_tail = std::min<std::size_t>(tail.size(), record.bytes.size());
    std::size_t front = record.bytes.size() - from_tail;
    std::copy(tail.end() - static_cast<std::ptrdiff_t>(from_tail), tail.end(), record.bytes.begin() + static_cast<std::ptrdiff_t>(front));
    position = file.length - tag_length;
    if (front > 0 && !platform::read_at(file, position, std::span(record.bytes.data(), front))) {
        record = {};
        return false;
    }
    record.kind = TagKind::apev2;
    return true;
}

}  // namespace

bool read_tag(TagRecord& record, const platform::OpenFile& file, std::uint64_t& position) {
    record = {};
    std::array<std::uint8_t, kTailReadSize> buffer;
    std::size_t tail_length = static_cast<std::size_t>(std::min<std::uint64_t>(file.length, kTailReadSize));
    Bytes tail(buffer.data(), tail_length);
    if (!platform::read_at(file, file.length - tail_length, std::span(buffer.data(), tail_length))) return false;

    if (tail.size() >= kFooterSize) {
        auto footer = decode_ape_footer(tail.last<kFooterSize>());
        if (footer && is_valid_ape_footer(*footer)) {
            return load_ape_tag(record, file, tail, ape_tag_length(*footer), position);
        }
    }
    if (tail.size() >= kId3v1Size && is_id3v1_block(tail.last(kId3v1Size))) {
        record.kind = TagKind::id3v1;
        record.bytes.assign(tail.end() - kId3v1Size, tail.end());
        position = file.length - kId3v1Size;
        return true;
    }
    return false;
}

bool write_tag(const TagRecord& record, const platform::OpenFile& file, std::uint64_t position) {
    if (record.kind == TagKind::none || record.bytes.empty()) return false;
    if (!platform::write_at(file, position, record.bytes)) return false;
    // A write that reaches or passes the old end already set the length.
    std::uint64_t end = position + record.bytes.size();
    return end >= file.length || platform::set_file_length(file, end);
}

}  // namespace kestrane
