// libFuzzer target for reading and copying tags.
//
// The fuzzer's input holds two files: byte 0 picks the transfer mode (and,
// from 3 on, every other three values a dry run), bytes
// 1 and 2 give the input file's length (little-endian, cut to what is
// there), then come the input file's bytes and the output file's bytes. Both
// are written to a scratch folder, the input's tag is read, the tag is
// copied onto the output with copy_tag, and the output is read back.
// Checked on every run, besides the sanitizers' own checks:
// - the tag record is consistent and holds exactly the tags a plain
//   description of the formats finds at the file's end (or none);
// - the copy's outcome is the one the two files and the options call for;
// - the output afterwards is byte for byte what the copy should make of it:
//   unchanged when nothing is written (always in a dry run), else its bytes
//   in front of the write position unchanged and followed by exactly the
//   input's tag bytes;
// - the output read back ends in the input's tags.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_checks.h"
#include "platform/files.h"
#include "tags/copy_tag.h"
#include "support/tag_checks.h"
#include "tags/tag_io.h"

const char* const kTargetName = "copy_tag_fuzzer";

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

std::string input_path, output_path;

Bytes read_whole(const std::string& path) {
    std::error_code error;
    Bytes bytes(fs::file_size(path, error));
    check(!error, "cannot stat a scratch file");
    std::FILE* file = std::fopen(path.c_str(), "rb");
    check(file != nullptr, "cannot open a scratch file");
    check(bytes.empty() || std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size(), "cannot read");
    std::fclose(file);
    return bytes;
}

std::uint32_t le32(const Bytes& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
           std::uint32_t{bytes[at + 3]} << 24;
}

// The tags at a file's end, from the formats' description alone. An APEv2
// footer ending at some place passes the footer's checks; with the header
// flag "APETAGEX" must also stand size + 32 bytes in front of that place
// (the tag begins there), or else size bytes in front (a size of at least
// 64 that counts the header; the tag begins there). A valid footer in the
// last 32 bytes wins; without the header flag, a tag that would start
// before the file means no tag at all. Else "TAG" 128 bytes from the end is
// a block, together with the Lyrics3v2 block ending right in front of it
// (six digits and "LYRICS200", "LYRICSBEGIN" as far in front of the digits
// as they say) and the APEv2 tag whose footer ends right in front of them.
struct SeenTag {
    kestrane::TagKind kind = kestrane::TagKind::none;
    std::size_t start = 0;
};

struct SeenApeTag {
    bool found = false;
    bool beyond_file = false;  // a headerless tag that would start before the file
    std::size_t start = 0;
};

SeenApeTag ape_tag_ending_at(const Bytes& file, std::size_t end) {
    if (end < 32 || std::memcmp(&file[end - 32], "APETAGEX", 8) != 0) return {};
    std::uint32_t version = le32(file, end - 24), size = le32(file, end - 20), count = le32(file, end - 16),
                  flags = le32(file, end - 12);
    if (version != 2000 || count == 0 || size <= 32 || size >= 0x10000000) return {};
    if ((flags & 0x80000000u) == 0) {
        return size <= end ? SeenApeTag{true, false, end - size} : SeenApeTag{false, true, 0};
    }
    auto header_at = [&](std::uint64_t length) {
        return length <= end && std::memcmp(&file[end - static_cast<std::size_t>(length)], "APETAGEX", 8) == 0;
    };
    if (header_at(std::uint64_t{size} + 32)) return {true, false, end - size - 32};
    if (size >= 64 && header_at(size)) return {true, false, end - size};
    return {};
}

SeenTag tag_at_end(const Bytes& file) {
    std::size_t n = file.size();
    SeenApeTag last = ape_tag_ending_at(file, n);
    if (last.found) return {kestrane::TagKind::apev2, last.start};
    if (last.beyond_file || n < 128 || std::memcmp(&file[n - 128], "TAG", 3) != 0) return {};
    std::size_t start = n - 128;
    if (start >= 15 && std::memcmp(&file[start - 9], "LYRICS200", 9) == 0 &&
        std::all_of(&file[start - 15], &file[start - 9], [](std::uint8_t c) { return c >= '0' && c <= '9'; })) {
        std::size_t size = std::stoul(std::string(&file[start - 15], &file[start - 9]));
        if (size >= 11 && size + 15 <= start && std::memcmp(&file[start - 15 - size], "LYRICSBEGIN", 11) == 0) {
            start -= size + 15;
        }
    }
    SeenApeTag ape = ape_tag_ending_at(file, start);
    return {kestrane::TagKind::id3v1, ape.found ? ape.start : start};
}

// Reads the file's tag through the tool and checks it against the description.
kestrane::TagRecord read_and_check(const std::string& path, const Bytes& contents) {
    kestrane::platform::OpenFile file;
    check(kestrane::platform::open_input_file(path, file), "cannot open a scratch file through the platform");
    kestrane::TagRecord record;
    std::uint64_t position = 0;
    bool found = kestrane::read_tag(record, file, position);
    kestrane::platform::close_file(file);

    check(kestrane::testing::is_consistent(record), "inconsistent tag record");
    check(found == (record.kind != kestrane::TagKind::none), "read_tag's result disagrees with the record");
    SeenTag seen = tag_at_end(contents);
    check(record.kind == seen.kind, "read_tag found another kind of tag than the file holds");
    if (found) {
        check(position == seen.start, "tag found at the wrong position");
        check(record.bytes.size() == contents.size() - seen.start &&
                  std::equal(record.bytes.begin(), record.bytes.end(), contents.begin() + static_cast<std::ptrdiff_t>(seen.start)),
              "tag bytes differ from the file's");
    }
    return record;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fs::path scratch = make_scratch_folder();
    input_path = (scratch / "in").string();
    output_path = (scratch / "out").string();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return -1;
    kestrane::TransferOptions options{static_cast<kestrane::TransferMode>(data[0] % 3), (data[0] / 3) % 2 == 1};
    kestrane::TransferMode mode = options.mode;
    std::size_t input_length = std::min<std::size_t>(data[1] | std::size_t{data[2]} << 8, size - 3);
    Bytes input(data + 3, data + 3 + input_length);
    Bytes output(data + 3 + input_length, data + size);
    write_whole(input_path, input);
    write_whole(output_path, output);

    kestrane::TagRecord input_tag = read_and_check(input_path, input);
    kestrane::TagRecord output_tag = read_and_check(output_path, output);

    // What the copy must decide and make of the output.
    using kestrane::Outcome;
    SeenTag old_tag = tag_at_end(output);
    bool has_old_tag = old_tag.kind != kestrane::TagKind::none;
    // An output that already ends in the input's very tag is left as it is.
    bool in_place = has_old_tag && output_tag.kind == input_tag.kind && output_tag.bytes == input_tag.bytes;
    Outcome expected_outcome =
        input_tag.kind == kestrane::TagKind::none ? Outcome::input_has_no_tag
        : has_old_tag ? (mode == kestrane::TransferMode::append_only ? Outcome::output_already_tagged
                         : in_place                                  ? Outcome::up_to_date
                         : options.dry_run                           ? Outcome::would_update
                                                                     : Outcome::updated)
                      : (mode == kestrane::TransferMode::update_only ? Outcome::output_has_no_tag
                         : options.dry_run                           ? Outcome::would_append
                                                                     : Outcome::appended);
    bool writes = expected_outcome == Outcome::updated || expected_outcome == Outcome::appended;
    std::size_t write_position = old_tag.kind != kestrane::TagKind::none ? old_tag.start : output.size();
    Bytes expected = output;
    if (writes) {
        expected.resize(write_position);
        expected.insert(expected.end(), input_tag.bytes.begin(), input_tag.bytes.end());
    }

    Outcome outcome = kestrane::copy_tag(input_path, output_path, options);
    if (outcome != expected_outcome) {
        std::fprintf(stderr, "copy_tag_fuzzer: outcome %d, expected %d\n", static_cast<int>(outcome),
                     static_cast<int>(expected_outcome));
        fail("copy_tag's outcome is not what the two files and the options call for");
    }
    Bytes after = read_whole(output_path);
    check(read_whole(input_path) == input, "the input changed");
    check(after.size() >= std::min(write_position, output.size()) &&
              std::equal(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(std::min(write_position, output.size())), after.begin()),
          "a byte in front of the write position changed");
    check(after == expected, "the output is not what the copy should make of it");
    if (writes) {
        // Read back, the output ends in the input's tags; the bytes in front
        // of them may make a longer block (a Lyrics3v2 block in front of an
        // ID3v1 tag, say), never a shorter one.
        kestrane::TagRecord written = read_and_check(output_path, after);
        check(written.bytes.size() >= input_tag.bytes.size() &&
                  std::equal(input_tag.bytes.rbegin(), input_tag.bytes.rend(), written.bytes.rbegin()),
              "the output does not read back ending in the input's tags");
    }
    return 0;
}
