// libFuzzer target for finding the tags that end a file (tags/end_block.h).
//
// The input is a file's bytes. It is written to a scratch file and
// locate_tag reads it; then again with 4,096 zero bytes of audio in front
// (so every part of a block lies outside the first read of a file that
// was short). Checked on every run, besides the sanitizers' own checks,
// from the layouts as the manual gives them:
// - the first read holds the file's last bytes; a found block lies inside
//   the file and ends at its end; none found is no place at all;
// - a found APEv2 tag ends in a valid footer (version 2000, an item count,
//   a size over 32 and below 256 MiB) whose size is the tag's length, the
//   header not counted or counted, and with the header flag the tag starts
//   with "APETAGEX";
// - a found ID3v1 block ends in 128 bytes that begin with "TAG", and what
//   stands in front of them in the block is an APEv2 tag, then a Lyrics3v2
//   block whose six digits give its size, each of them there or not;
// - what must be found is: an APEv2 tag whose valid footer is the file's
//   last 32 bytes and whose header is where its size says; an ID3v1 block
//   when the file ends in no "APETAGEX" footer but in "TAG" and 128 bytes;
//   nothing when neither; a whole Lyrics3v2 block and a whole APEv2 tag
//   right in front of the ID3v1 tag, in that order;
// - audio in front changes nothing but a headerless tag that reached past
//   the file's start, which may then be found.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_checks.h"
#include "platform/files.h"
#include "tags/end_block.h"

const char* const kTargetName = "end_block_fuzzer";

namespace {

using Bytes = std::vector<std::uint8_t>;
using kestrane::TagKind;
using kestrane::TagPlace;
namespace fs = std::filesystem;

std::string file_path;

bool has_at(const Bytes& file, std::size_t at, const char* text) {
    std::size_t length = std::strlen(text);
    return at <= file.size() && file.size() - at >= length && std::memcmp(&file[at], text, length) == 0;
}

std::uint32_t le32(const Bytes& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
           std::uint32_t{bytes[at + 3]} << 24;
}

// An APEv2 footer ending at end whose fields pass the manual's checks.
struct Footer {
    std::uint32_t size = 0;
    bool header = false;
};

std::optional<Footer> valid_footer_ending_at(const Bytes& file, std::size_t end) {
    if (end < 32 || !has_at(file, end - 32, "APETAGEX")) return std::nullopt;
    std::uint32_t version = le32(file, end - 24), size = le32(file, end - 20), count = le32(file, end - 16),
                  flags = le32(file, end - 12);
    if (version != 2000 || count == 0 || size <= 32 || size >= 0x10000000) return std::nullopt;
    return Footer{size, (flags & 0x80000000u) != 0};
}

// Whether file[begin, end) is a whole APEv2 tag.
bool is_ape_tag(const Bytes& file, std::size_t begin, std::size_t end) {
    std::optional<Footer> footer = valid_footer_ending_at(file, end);
    if (!footer || end - begin < 32) return false;
    std::uint64_t length = end - begin;
    if (!footer->header) return length == footer->size;
    bool header_counted = length == footer->size && footer->size >= 64;
    return (length == std::uint64_t{footer->size} + 32 || header_counted) && has_at(file, begin, "APETAGEX");
}

// Whether file[begin, end) is a whole Lyrics3v2 block.
bool is_lyrics_block(const Bytes& file, std::size_t begin, std::size_t end) {
    if (end - begin < 11 + 15 || !has_at(file, begin, "LYRICSBEGIN") || !has_at(file, end - 9, "LYRICS200")) return false;
    std::size_t digits = 0;
    for (std::size_t i = end - 15; i < end - 9; ++i) {
        if (file[i] < '0' || file[i] > '9') return false;
        digits = digits * 10 + (file[i] - '0');
    }
    return digits == end - 15 - begin;
}

// The Lyrics3v2 block that ends at end, where its digits say it begins.
std::optional<std::size_t> lyrics_block_ending_at(const Bytes& file, std::size_t end) {
    if (end < 15 || !has_at(file, end - 9, "LYRICS200")) return std::nullopt;
    std::size_t digits = 0;
    for (std::size_t i = end - 15; i < end - 9; ++i) {
        if (file[i] < '0' || file[i] > '9') return std::nullopt;
        digits = digits * 10 + (file[i] - '0');
    }
    if (digits + 15 > end || !is_lyrics_block(file, end - 15 - digits, end)) return std::nullopt;
    return end - 15 - digits;
}

// The APEv2 tag whose footer ends at end and which lies in the file: where it begins.
std::optional<std::size_t> ape_tag_ending_at(const Bytes& file, std::size_t end) {
    std::optional<Footer> footer = valid_footer_ending_at(file, end);
    if (!footer) return std::nullopt;
    for (std::uint64_t length : {std::uint64_t{footer->size} + 32, std::uint64_t{footer->size}}) {
        if (length <= end && is_ape_tag(file, end - static_cast<std::size_t>(length), end)) {
            return end - static_cast<std::size_t>(length);
        }
    }
    return std::nullopt;
}

struct Found {
    bool found = false;
    TagPlace place;
};

Found locate(const Bytes& file) {
    write_whole(file_path, file);
    kestrane::platform::OpenFile open;
    check(kestrane::platform::open_input_file(file_path, open), "cannot open a scratch file through the platform");
    auto tail = std::make_unique<kestrane::FileTail>();
    Found result;
    result.found = kestrane::locate_tag(open, *tail, result.place);
    kestrane::platform::close_file(open);

    std::size_t n = file.size();
    check(tail->length == std::min<std::size_t>(n, kestrane::kTailReadSize) &&
              std::equal(tail->bytes.begin(), tail->bytes.begin() + static_cast<std::ptrdiff_t>(tail->length),
                         file.end() - static_cast<std::ptrdiff_t>(tail->length)),
          "the first read does not hold the file's last bytes");
    const TagPlace& place = result.place;
    check(result.found == (place.kind != TagKind::none), "locate_tag's result disagrees with the place");
    if (!result.found) {
        check(place.position == 0 && place.length == 0, "no tag, but a place");
        return result;
    }
    check(place.position <= n && place.length == n - place.position, "the block does not end at the file's end");
    return result;
}

void check_block(const Bytes& file, const Found& result) {
    std::size_t n = file.size();
    const TagPlace& place = result.place;
    auto start = static_cast<std::size_t>(place.position);
    std::optional<Footer> last_footer = valid_footer_ending_at(file, n);

    if (place.kind == TagKind::apev2) {
        check(is_ape_tag(file, start, n), "the APEv2 tag found is not one its footer describes");
    } else if (place.kind == TagKind::id3v1) {
        check(n >= 128 && has_at(file, n - 128, "TAG"), "an ID3v1 block that does not end in \"TAG\" and 127 bytes");
        check(!ape_tag_ending_at(file, n), "an ID3v1 block found where the file ends in an APEv2 tag");
        bool parts = false;
        for (std::size_t seam = start; seam <= n - 128 && !parts; ++seam) {
            parts = (seam == start || is_ape_tag(file, start, seam)) &&
                    (seam == n - 128 || is_lyrics_block(file, seam, n - 128));
        }
        check(parts, "in front of the ID3v1 tag is something other than an APEv2 tag and a Lyrics3v2 block");
    }

    // What must be found.
    if (std::optional<std::size_t> ape = ape_tag_ending_at(file, n)) {
        check(place.kind == TagKind::apev2 && start == *ape, "the APEv2 tag that ends the file is not found whole");
    } else if (n < 32 || !has_at(file, n - 32, "APETAGEX")) {
        bool id3v1 = n >= 128 && has_at(file, n - 128, "TAG");
        check(place.kind == (id3v1 ? TagKind::id3v1 : TagKind::none), "ID3v1 block found or missed wrongly");
    }
    if (last_footer && !last_footer->header && last_footer->size > n) {
        check(!result.found, "a headerless tag beyond the file's start, yet a tag");
    }
    if (place.kind == TagKind::id3v1) {
        std::size_t seam = n - 128;
        if (std::optional<std::size_t> lyrics = lyrics_block_ending_at(file, seam)) seam = *lyrics;
        check(start <= seam, "the Lyrics3v2 block in front of the ID3v1 tag is not in the block");
        std::optional<std::size_t> ape = ape_tag_ending_at(file, seam);
        check(start == ape.value_or(seam), "the APEv2 tag in front of the block is not in it, or more is");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fs::path scratch = make_scratch_folder();
    file_path = (scratch / "file").string();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes file(data, data + size);
    Found alone = locate(file);
    check_block(file, alone);

    Bytes longer(kestrane::kTailReadSize, 0);
    longer.insert(longer.end(), file.begin(), file.end());
    Found after_audio = locate(longer);
    check_block(longer, after_audio);
    TagKind kind = alone.place.kind, later = after_audio.place.kind;
    if (kind == TagKind::none) {
        check(later != TagKind::id3v1, "audio in front of a file makes an ID3v1 block of it");
    } else {
        check(later == kind, "audio in front of a file changes the kind of its tag");
        check(kind == TagKind::id3v1 ? after_audio.place.length >= alone.place.length
                                     : after_audio.place.length == alone.place.length,
              "audio in front of a file shortens its block");
    }
    return 0;
}
