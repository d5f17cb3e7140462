#include "tags/end_block.h"

#include <algorithm>

namespace kestrane {
namespace {

constexpr std::size_t kPreambleSize = 8;  // "APETAGEX"

// Fills bytes with the file's bytes from position on: from the tail when it
// holds them all, else with one read.
bool bytes_at(const platform::OpenFile& file, const FileTail& tail, std::uint64_t position,
              std::span<std::uint8_t> bytes) {
    std::uint64_t tail_start = file.length - tail.length;
    if (position < tail_start || position + bytes.size() > file.length) {
        return platform::read_at(file, position, bytes);
    }
    const auto* from = tail.bytes.begin() + static_cast<std::ptrdiff_t>(position - tail_start);
    std::copy(from, from + static_cast<std::ptrdiff_t>(bytes.size()), bytes.begin());
    return true;
}

// What an APEv2 footer that ends at some place in a file stands for.
struct ApeTagFound {
    enum Verdict {
        tag,          // a tag that begins at start
        not_a_tag,    // a field fails its check, or the header is not where the size puts it
        beyond_file,  // a valid headerless footer whose tag would begin before the file
        unreadable,   // a read failed
    } verdict;
    std::uint64_t start = 0;
};

// Judges the footer whose 32 bytes end at end. A tag with a header must have
// the header's preamble where the size puts it, or 32 bytes later (a size
// that counts the header, which leaves room for the header in front of the
// footer); both places are read at once.
ApeTagFound judge_ape_footer(const platform::OpenFile& file, const FileTail& tail,
                             std::span<const std::uint8_t, kFooterSize> footer_bytes, std::uint64_t end) {
    std::optional<ApeFooter> footer = decode_ape_footer(footer_bytes);
    if (!footer || !is_valid_ape_footer(*footer)) return {ApeTagFound::not_a_tag};
    std::uint64_t size = footer->size;
    if (!has_ape_header(*footer)) {
        if (size > end) return {ApeTagFound::beyond_file};
        return {ApeTagFound::tag, end - size};
    }
    std::uint64_t with_header = size + kHeaderSize;
    bool counted_header_fits = size >= kHeaderSize + kFooterSize && size <= end;
    std::array<std::uint8_t, kHeaderSize + kPreambleSize> places{};  // the header's place, then 32 bytes later
    std::span<std::uint8_t> later = std::span(places).subspan(kHeaderSize);
    if (with_header <= end) {
        if (!bytes_at(file, tail, end - with_header, places)) return {ApeTagFound::unreadable};
        if (starts_with_ape_preamble(places)) return {ApeTagFound::tag, end - with_header};
    } else if (counted_header_fits && !bytes_at(file, tail, end - size, later)) {
        return {ApeTagFound::unreadable};
    }
    if (counted_header_fits && starts_with_ape_preamble(later)) return {ApeTagFound::tag, end - size};
    return {ApeTagFound::not_a_tag};
}

// Where the block that ends in the ID3v1 tag at id3v1 begins: at the APEv2
// tag in front of the Lyrics3v2 block in front of the ID3v1 tag, as far as
// they are there. None when a read fails.
std::optional<std::uint64_t> block_start(const platform::OpenFile& file, const FileTail& tail, std::uint64_t id3v1) {
    // The 32 bytes in front of the block's start so far (where an APEv2
    // footer would be), then its first 11 (where "LYRICSBEGIN" would be).
    std::array<std::uint8_t, kFooterSize + kLyrics3v2BeginSize> seam{};
    std::span<std::uint8_t, kFooterSize> footer_bytes = std::span(seam).first<kFooterSize>();
    std::uint64_t start = id3v1;

    std::array<std::uint8_t, kLyrics3v2EndSize> lyrics_end{};  // zeros stand for no Lyrics3v2 block
    if (start >= kLyrics3v2EndSize && !bytes_at(file, tail, start - kLyrics3v2EndSize, lyrics_end)) return std::nullopt;
    std::optional<std::uint32_t> lyrics_size = decode_lyrics3v2_end(lyrics_end);
    if (lyrics_size && *lyrics_size >= kLyrics3v2BeginSize && *lyrics_size + kLyrics3v2EndSize <= start) {
        std::uint64_t lyrics = start - kLyrics3v2EndSize - *lyrics_size;
        std::size_t in_front = static_cast<std::size_t>(std::min<std::uint64_t>(lyrics, kFooterSize));
        std::span<std::uint8_t> wanted = std::span(seam).subspan(kFooterSize - in_front);
        if (!bytes_at(file, tail, lyrics - in_front, wanted)) return std::nullopt;
        if (starts_with_lyrics3v2_begin(std::span(seam).subspan(kFooterSize))) start = lyrics;
    }
    if (start < kFooterSize) return start;
    if (start == id3v1 && !bytes_at(file, tail, start - kFooterSize, footer_bytes)) return std::nullopt;
    ApeTagFound ape = judge_ape_footer(file, tail, footer_bytes, start);
    if (ape.verdict == ApeTagFound::unreadable) return std::nullopt;
    return ape.verdict == ApeTagFound::tag ? ape.start : start;
}

}  // namespace

bool locate_tag(const platform::OpenFile& file, FileTail& tail, TagPlace& place) {
    place = {};
    tail.length = static_cast<std::size_t>(std::min<std::uint64_t>(file.length, kTailReadSize));
    std::span<std::uint8_t> bytes(tail.bytes.data(), tail.length);
    if (!platform::read_at(file, file.length - tail.length, bytes)) {
        tail.length = 0;
        return false;
    }
    if (bytes.size() >= kFooterSize) {
        ApeTagFound ape = judge_ape_footer(file, tail, bytes.last<kFooterSize>(), file.length);
        if (ape.verdict == ApeTagFound::tag) {
            place = {TagKind::apev2, ape.start, file.length - ape.start};
            return true;
        }
        if (ape.verdict != ApeTagFound::not_a_tag) return false;
    }
    if (bytes.size() < kId3v1Size || !is_id3v1_block(bytes.last(kId3v1Size))) return false;
    std::optional<std::uint64_t> start = block_start(file, tail, file.length - kId3v1Size);
    if (!start) return false;
    place = {TagKind::id3v1, *start, file.length - *start};
    return true;
}

}  // namespace kestrane
