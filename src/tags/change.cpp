#include "tags/change.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "tags/digest.h"
#include "tags/little_endian.h"

namespace kestrane {
namespace {

constexpr std::array<std::uint8_t, 4> kMagic = {'K', 'J', 'C', '1'};
constexpr std::size_t kFixedHead = 4 + 8 * 11 + 4 + 4;  // magic, the numbers, the path's and the ranges' counts
constexpr std::uint64_t kMostPathBytes = 1 << 20;
constexpr std::uint64_t kMostRanges = 1 << 20;

// The bytes of the old block that each data range covers.
std::span<const std::uint8_t> data_of(const Change& change, const platform::ByteRange& range) {
    return std::span(change.old_block).subspan(range.offset - change.position, range.length);
}

}  // namespace

std::uint64_t EncodedChange::size() const {
    std::uint64_t total = head.size() + tail.size();
    for (auto piece : data) total += piece.size();
    return total;
}

EncodedChange encode(const Change& change) {
    EncodedChange encoded;
    std::vector<std::uint8_t>& head = encoded.head;
    head.reserve(kFixedHead + change.output_path.size() + 16 * change.old_data.size());
    head.assign(kMagic.begin(), kMagic.end());
    std::uint64_t data_bytes = 0;
    for (const platform::ByteRange& range : change.old_data) data_bytes += range.length;
    std::uint64_t size = kFixedHead + change.output_path.size() + 16 * change.old_data.size() + data_bytes + 8;
    for (std::uint64_t value : {size, change.identity.volume, change.identity.file, change.old_length, change.position,
                                change.new_length, change.new_digest, change.before_length, change.before_digest,
                                data_bytes, std::uint64_t{0}}) {
        put_little_endian(head, value, 8);
    }
    put_little_endian(head, change.output_path.size(), 4);
    put_little_endian(head, change.old_data.size(), 4);
    head.insert(head.end(), change.output_path.begin(), change.output_path.end());
    for (const platform::ByteRange& range : change.old_data) {
        put_little_endian(head, range.offset, 8);
        put_little_endian(head, range.length, 8);
        encoded.data.push_back(data_of(change, range));
    }
    // The digest covers its parts in turn: the fixed head, the path and
    // ranges, then each piece of data (as decode_change reads them).
    std::span<const std::uint8_t> whole_head(head);
    std::uint64_t digest = digest_of(whole_head.subspan(kFixedHead), digest_of(whole_head.first(kFixedHead)));
    for (auto piece : encoded.data) digest = digest_of(piece, digest);
    put_little_endian(encoded.tail, digest, 8);
    return encoded;
}

std::optional<Change> decode_change(const platform::OpenFile& file, std::uint64_t offset, std::uint64_t& next) {
    std::vector<std::uint8_t> head(kFixedHead);
    if (offset + head.size() > file.length || !platform::read_at(file, offset, head)) return std::nullopt;
    if (!std::equal(kMagic.begin(), kMagic.end(), head.begin())) return std::nullopt;
    auto number = [&](std::size_t index) { return get_little_endian(head.data() + 4 + 8 * index, 8); };
    Change change;
    std::uint64_t size = number(0);
    change.identity = {number(1), number(2)};
    change.old_length = number(3);
    change.position = number(4);
    change.new_length = number(5);
    change.new_digest = number(6);
    change.before_length = number(7);
    change.before_digest = number(8);
    std::uint64_t data_bytes = number(9);
    std::uint64_t path_bytes = get_little_endian(head.data() + kFixedHead - 8, 4), ranges = get_little_endian(head.data() + kFixedHead - 4, 4);
    bool sane = path_bytes <= kMostPathBytes && ranges <= kMostRanges && change.position <= change.old_length &&
                data_bytes <= change.old_length - change.position &&
                size == kFixedHead + path_bytes + 16 * ranges + data_bytes + 8 && offset + size <= file.length;
    if (!sane) return std::nullopt;
    std::vector<std::uint8_t> rest(static_cast<std::size_t>(size - kFixedHead));
    if (!platform::read_at(file, offset + kFixedHead, rest)) return std::nullopt;
    std::uint64_t digest = digest_of(head);
    std::span<const std::uint8_t> described(rest.data(), rest.size() - 8 - data_bytes);
    for (std::uint64_t i = 0; i < ranges; ++i) {
        std::uint64_t length = get_little_endian(rest.data() + path_bytes + 16 * i + 8, 8);
        if (length > data_bytes) return std::nullopt;
    }
    digest = digest_of(described, digest);
    const std::uint8_t* piece = rest.data() + described.size();
    for (std::uint64_t i = 0; i < ranges; ++i) {
        std::uint64_t length = get_little_endian(rest.data() + path_bytes + 16 * i + 8, 8);
        digest = digest_of(std::span(piece, length), digest);
        piece += length;
    }
    if (digest != get_little_endian(rest.data() + rest.size() - 8, 8)) return std::nullopt;

    change.output_path.assign(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(path_bytes));
    change.old_block.assign(static_cast<std::size_t>(change.old_length - change.position), 0);
    const std::uint8_t* at = rest.data() + path_bytes;
    const std::uint8_t* data = at + 16 * ranges;
    for (std::uint64_t i = 0; i < ranges; ++i, at += 16) {
        platform::ByteRange range{get_little_endian(at, 8), get_little_endian(at + 8, 8)};
        if (range.offset < change.position || range.offset + range.length > change.old_length ||
            data + range.length > rest.data() + rest.size() - 8) {
            return std::nullopt;
        }
        std::copy(data, data + range.length, change.old_block.begin() + static_cast<std::ptrdiff_t>(range.offset - change.position));
        data += range.length;
        change.old_data.push_back(range);
    }
    next = offset + size;
    return change;
}

bool put_back_old_end(const platform::OpenFile& file, const Change& change) {
    bool put = true;
    std::uint64_t at = change.position;
    auto fill = [&](std::uint64_t to) {  // a part that was a hole
        if (at < to && !platform::make_hole(file, at, to - at)) {
            put = platform::write_at(file, at, std::span(change.old_block).subspan(at - change.position, to - at)) && put;
        }
    };
    for (const platform::ByteRange& range : change.old_data) {
        fill(range.offset);
        put = platform::write_at(file, range.offset, data_of(change, range)) && put;
        at = range.offset + range.length;
    }
    fill(change.old_length);
    return platform::set_file_length(file, change.old_length) && put;
}

}  // namespace kestrane
