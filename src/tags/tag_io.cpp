#include "tags/tag_io.h"

#include <algorithm>

namespace kestrane {

bool load_tag(const platform::OpenFile& file, const FileTail& tail, const TagPlace& place, TagRecord& record) {
    record = {};
    if (place.kind == TagKind::none) return false;
    record.bytes.resize(static_cast<std::size_t>(place.length));
    std::size_t from_tail = std::min<std::size_t>(tail.length, record.bytes.size());
    std::size_t front = record.bytes.size() - from_tail;
    const auto* tail_end = tail.bytes.begin() + static_cast<std::ptrdiff_t>(tail.length);
    std::copy(tail_end - static_cast<std::ptrdiff_t>(from_tail), tail_end,
              record.bytes.begin() + static_cast<std::ptrdiff_t>(front));
    if (front > 0 && !platform::read_at(file, place.position, std::span(record.bytes.data(), front))) {
        record = {};
        return false;
    }
    record.kind = place.kind;
    return true;
}

bool read_tag(TagRecord& record, const platform::OpenFile& file, std::uint64_t& position) {
    FileTail tail;
    TagPlace place;
    record = {};
    if (!locate_tag(file, tail, place) || !load_tag(file, tail, place, record)) return false;
    position = place.position;
    return true;
}

void ask_ahead_for_tag(const std::string& path, const platform::FileFacts& facts) {
    if (!facts.regular || facts.length == 0 || !platform::is_on_local_disk(path, facts)) return;
    std::uint64_t count = std::min<std::uint64_t>(facts.length, kTailReadSize);
    platform::ask_to_read_ahead(path, facts.length - count, count);
}

bool write_tag(const TagRecord& record, const platform::OpenFile& file, std::uint64_t position) {
    if (record.kind == TagKind::none || record.bytes.empty()) return false;
    if (!platform::write_at(file, position, record.bytes)) return false;
    // A write that reaches or passes the old end already set the length.
    std::uint64_t end = position + record.bytes.size();
    return end >= file.length || platform::set_file_length(file, end);
}

}  // namespace kestrane
