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

ReadResult read_tag_of(const Bytes& contents) {
    ScratchFolder folder;
    write_file(folder / "f", contents);
    platform::OpenFile file;
    EXPECT_TRUE(platform::open_input_file((folder / "f").string(), file));
    ReadResult result;
    result.found = read_tag(result.record, file, result.position);
    platform::close_file(file);
    EXPECT_TRUE(testing::is_consistent(result.record));
    EXPECT_EQ(result.found, result.record.kind != TagKind::none);
    return result;
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
    Bytes size_at_bound = footer_of({.size_override = kSizeBound});
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
    // A valid footer whose tag would start before the file: no ID3v1 test.
    Bytes footer = footer_of({.item_bytes = 1000});
    EXPECT_FALSE(read_tag_of(id3v1_marker_before(footer)).found);
    // A headerless tag filling the whole file is loaded; with a header claimed it is not.
    EXPECT_TRUE(read_tag_of(ape_tag({.item_bytes = 20, .header = false})).found);
    Bytes headerless = ape_tag({.item_bytes = 20, .header = false});
    Bytes claims_header = headerless;
    claims_header[claims_header.size() - 32 + 23] = 0x80;
    EXPECT_FALSE(read_tag_of(claims_header).found);
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

TEST(ReadTag, ApeFollowedById3v1IsSeenAsId3v1) {
    Bytes file = audio(400) + ape_tag({.item_bytes = 60}) + id3v1_tag("Last");
    ReadResult result = read_tag_of(file);
    EXPECT_EQ(result.record.kind, TagKind::id3v1);
    EXPECT_EQ(result.position, file.size() - 128);
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
