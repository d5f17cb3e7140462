// Reading and writing the tag at the end of real files in a scratch folder.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/sample_files.h"
#include "support/tag_checks.h"
#include "tags/tag_io.h"

namespace kestrane {
namespace {

using namespace kestrane::testing;

struct ReadResult {
    bool found = false;
    TagRecord record;
    std::uint64_t position = 0;
};

ReadResult read_tag_of_file(const std::filesystem::path& path) {
    platform::OpenFile file;
    EXPECT_TRUE(platform::open_input_file(path.string(), file));
    ReadResult result;
    result.found = read_tag(result.record, file, result.position);
    platform::close_file(file);
    EXPECT_TRUE(testing::is_consistent(result.record));
    EXPECT_EQ(result.found, result.record.kind != TagKind::none);
    return result;
}

ReadResult read_tag_of(const Bytes& contents) {
    ScratchFolder folder;
    write_file(folder / "f", contents);
    return read_tag_of_file(folder / "f");
}

// The last 128 bytes of the file start with "TAG" while the last 32 hold
// the given footer-like bytes: shows whether the ID3v1 test follows.
Bytes id3v1_marker_before(const Bytes& last_32) {
    Bytes block = bytes_of("TAG") + Bytes(93, 'i') + last_32;
    return audio(300) + block;
}

// The first size field too big: 256 MiB.
constexpr std::uint32_t kSizeBound = 0x10000000;

Bytes footer_of(const ApeTagSpec& spec) {
    Bytes tag = ape_tag(spec);
    return Bytes(tag.end() - 32, tag.end());
}

TEST(ReadTag, FindsAnApeTagWithHeaderAtTheEnd) {
    Bytes tag = ape_tag({.item_bytes = 100});
    ReadResult result = read_tag_of(audio(1000) + tag);
    EXPECT_EQ(result.record.kind, TagKind::apev2);
    EXPECT_EQ(result.record.bytes, tag);
    EXPECT_EQ(result.position, 1000u);
}

TEST(ReadTag, LoadsTagsLongerThanOneTailRead) {
    Bytes tag = ape_tag({.item_bytes = 3 * kTailReadSize});
    ReadResult result = read_tag_of(audio(5000) + tag);
    EXPECT_EQ(result.record.bytes, tag);
    EXPECT_EQ(result.position, 5000u);
}

TEST(ReadTag, FindsAnApeTagWithoutHeaderFromItsFirstItemByte) {
    Bytes tag = ape_tag({.item_bytes = 50, .header = false});
    ReadResult result = read_tag_of(audio(700) + tag);
    EXPECT_EQ(result.record.kind, TagKind::apev2);
    EXPECT_EQ(result.record.bytes, tag);
    EXPECT_EQ(result.position, 700u);
}

TEST(ReadTag, AcceptsSizesJustInsideTheBounds) {
    EXPECT_EQ(read_tag_of(audio(10) + ape_tag({.item_bytes = 1})).record.bytes.size(), 1u + 64);
    Bytes largest = zero_filled_ape_tag(kSizeBound - 1 - 32);  // 256 MiB + 31 bytes, sparse on disk
    EXPECT_EQ(read_tag_of(audio(10) + largest).record.bytes, largest);
    // nothing in front of the tag at all
    Bytes bare = ape_tag({.item_bytes = 8});
    EXPECT_EQ(read_tag_of(bare).position, 0u);
}

TEST(ReadTag, RejectedFootersLeadToTheId3v1Test) {
    Bytes size_32 = footer_of({.item_bytes = 0});
    Bytes size_at_bound = footer_of({.header = false, .size_override = kSizeBound});
    Bytes version_1000 = footer_of({.version = 1000});
    Bytes no_items = footer_of({.item_count = 0});
    Bytes lower_case = footer_of({.preamble = "apetagex"});
    for (const Bytes& footer : {size_32, size_at_bound, version_1000, no_items, lower_case}) {
        Bytes file = id3v1_marker_before(footer);
        ReadResult result = read_tag_of(file);
        EXPECT_EQ(result.record.kind, TagKind::id3v1);
        EXPECT_EQ(result.record.bytes, Bytes(file.end() - 128, file.end()));
        EXPECT_EQ(result.position, file.size() - 128);
    }
}

TEST(ReadTag, FooterClaimingMoreThanTheFileHoldsMeansNoTag) {
    // A valid headerless footer whose tag would start before the file: no ID3v1 test.
    EXPECT_FALSE(read_tag_of(id3v1_marker_before(footer_of({.item_bytes = 1000, .header = false}))).found);
    // With the header flag, no header is where the size puts it: no APEv2 tag, and the ID3v1 test follows.
    Bytes flagged = id3v1_marker_before(footer_of({.item_bytes = 1000}));
    EXPECT_EQ(read_tag_of(flagged).record.bytes, Bytes(flagged.end() - 128, flagged.end()));
    // A headerless tag filling the whole file is loaded; with a header claimed it is not.
    EXPECT_TRUE(read_tag_of(ape_tag({.item_bytes = 20, .header = false})).found);
    Bytes headerless = ape_tag({.item_bytes = 20, .header = false});
    Bytes claims_header = headerless;
    claims_header[claims_header.size() - 32 + 23] = 0x80;
    EXPECT_FALSE(read_tag_of(claims_header).found);
}

// A footer with the header flag is a tag only with "APETAGEX" where its
// size puts the header, or 32 bytes later where a size that counts the
// header puts it; then the tag begins there. Audio is never taken for a tag.
TEST(ReadTag, AHeaderFlaggedTagBeginsAtItsHeaderOrIsNoTag) {
    const Bytes front = audio(2 << 20), id3 = id3v1_tag("Last");
    const Bytes counted = ape_tag({.item_bytes = 100, .size_override = 100 + 64});
    const Bytes big_counted = ape_tag({.item_bytes = 3 * kTailReadSize, .size_override = 3 * kTailReadSize + 64});
    const Bytes too_big = ape_tag({.item_bytes = 100, .size_override = 100 + 32 + (1 << 20)});
    const Bytes tag = ape_tag({.item_bytes = 100}), no_header(tag.begin() + 32, tag.end());
    for (const Bytes& counted_tag : {counted, big_counted}) {
        ReadResult at_end = read_tag_of(front + counted_tag);
        EXPECT_EQ(at_end.record.bytes, counted_tag);
        EXPECT_EQ(at_end.position, front.size());
        EXPECT_EQ(read_tag_of(front + counted_tag + id3).record.bytes, counted_tag + id3);
    }
    // "APETAGEX" 40 bytes before the end: a counted header would overlap the footer
    const Bytes overlapping = bytes_of("APETAGEX") + footer_of({.item_bytes = 8});
    for (const Bytes& not_tag : {too_big, no_header, overlapping, ape_tag({.item_bytes = 100, .size_override = 133})}) {
        EXPECT_FALSE(read_tag_of(front + not_tag).found);
        EXPECT_EQ(read_tag_of(front + not_tag + id3).record.bytes, id3);
    }
}
TEST(ReadTag, FindsId3v1OnlyAsTheLast128Bytes) {
    Bytes tag = id3v1_tag("Title");
    EXPECT_EQ(read_tag_of(audio(500) + tag).record.bytes, tag);
    EXPECT_EQ(read_tag_of(tag).position, 0u);
    EXPECT_FALSE(read_tag_of(audio(500) + id3v1_tag("Title", "tag")).found);
    EXPECT_FALSE(read_tag_of(audio(500) + tag + audio(1)).found);
    // a file shorter than 128 bytes never yields an ID3v1 tag
    EXPECT_FALSE(read_tag_of(Bytes(tag.begin(), tag.end() - 1)).found);
}

TEST(ReadTag, ShortAndEmptyFilesHaveNoTag) {
    for (std::size_t length : {0, 1, 31, 32, 127}) {
        EXPECT_FALSE(read_tag_of(Bytes(length, 'T')).found) << length;
    }
    Bytes footer_only = footer_of({.item_bytes = 1});
    EXPECT_FALSE(read_tag_of(Bytes(footer_only.begin() + 1, footer_only.end())).found);
}

// An ID3v1 tag, the Lyrics3v2 block that ends where it begins and the
// APEv2 tag whose footer ends where they begin are one block, read from its
// first byte; also when it reaches far beyond the last 4 KiB.
TEST(ReadTag, AnId3v1TagAndTheTagsRightInFrontOfItAreOneBlock) {
    const Bytes ape = ape_tag({.item_bytes = 60}), headerless = ape_tag({.item_bytes = 60, .header = false});
    const Bytes lyrics = lyrics3v2_block("la la"), id3 = id3v1_tag("Last");
    const Bytes big_ape = ape_tag({.item_bytes = 2 * kTailReadSize});
    const Bytes big_lyrics = lyrics3v2_block(std::string(2 * kTailReadSize, 'l'));
    for (const Bytes& block : {ape + id3, headerless + id3, ape + lyrics + id3, headerless + lyrics + id3, lyrics + id3,
                               big_ape + id3, big_ape + big_lyrics + id3, ape + big_lyrics + id3}) {
        ReadResult result = read_tag_of(audio(400) + block);
        EXPECT_EQ(result.record.kind, TagKind::id3v1);
        EXPECT_EQ(result.record.bytes, block);
        EXPECT_EQ(result.position, 400u);
        EXPECT_EQ(read_tag_of(block).position, 0u);
    }
}

// What fails a check, or does not end exactly where the next part begins,
// stays in front of the block.
TEST(ReadTag, WhatIsNoPartOfTheBlockStaysInFrontOfIt) {
    const Bytes ape = ape_tag({.item_bytes = 60}), lyrics = lyrics3v2_block("words"), id3 = id3v1_tag("Last");
    Bytes bad_digits = lyrics, one_more = lyrics;
    bad_digits[lyrics.size() - 15] = 'x';
    one_more[lyrics.size() - 10] += 1;  // "LYRICSBEGIN" would stand one byte earlier
    const std::pair<Bytes, Bytes> files[] = {  // what stays in front, the block
        {audio(300) + ape_tag({.version = 1000}), id3},
        {audio(300) + ape_tag({.size_override = kSizeBound}), id3},
        {audio(300) + ape_tag({.item_count = 0}), lyrics + id3},
        {Bytes(ape.begin() + 1, ape.end()), id3},  // the tag would start before the file
        {ape_tag({.item_bytes = 60, .header = false, .size_override = 60 + 33}), id3},
        {audio(300) + ape + Bytes{0}, id3},
        {audio(300) + ape + Bytes{0}, lyrics + id3},
        {audio(300) + ape + bad_digits, id3},
        {audio(300) + ape + Bytes{'L'} + one_more, id3},
    };
    for (const auto& [front, block] : files) {
        ReadResult result = read_tag_of(front + block);
        EXPECT_EQ(result.record.bytes, block);
        EXPECT_EQ(result.position, front.size());
    }
    // A headerless tag of 256 MiB, the first size too big, its items a hole.
    ScratchFolder folder;
    write_sparse_file(folder / "f", kSizeBound - 32, footer_of({.header = false, .size_override = kSizeBound}) + id3);
    EXPECT_EQ(read_tag_of_file(folder / "f").record.bytes, id3);
}

// Writes record into a file holding contents at position; returns the
// result and leaves the file's new bytes in contents.
bool write_into(Bytes& contents, const TagRecord& record, std::uint64_t position) {
    ScratchFolder folder;
    write_file(folder / "f", contents);
    platform::OpenFile file;
    EXPECT_TRUE(platform::open_output_file((folder / "f").string(), file));
    bool written = write_tag(record, file, position);
    platform::close_file(file);
    contents = read_file(folder / "f");
    return written;
}

TEST(WriteTag, ReplacesALongerTagAndCutsTheRest) {
    Bytes front = audio(300);
    Bytes contents = front + ape_tag({.item_bytes = 2000 - 64});
    TagRecord id3{TagKind::id3v1, id3v1_tag("New")};
    ASSERT_TRUE(write_into(contents, id3, 300));
    EXPECT_EQ(contents, front + id3.bytes);
}

TEST(WriteTag, GrowsTheFileForALongerTagAndAppendsAtTheEnd) {
    Bytes front = audio(300);
    TagRecord ape{TagKind::apev2, ape_tag({.item_bytes = 500})};
    Bytes contents = front + id3v1_tag("Old");
    ASSERT_TRUE(write_into(contents, ape, 300));
    EXPECT_EQ(contents, front + ape.bytes);
    contents = front;
    ASSERT_TRUE(write_into(contents, ape, 300));
    EXPECT_EQ(contents, front + ape.bytes);
}

TEST(WriteTag, AnEmptyRecordFailsAndChangesNothing) {
    Bytes contents = audio(300) + id3v1_tag("Keep");
    Bytes before = contents;
    EXPECT_FALSE(write_into(contents, TagRecord{}, 300));
    EXPECT_EQ(contents, before);
}

}  // namespace
}  // namespace kestrane
