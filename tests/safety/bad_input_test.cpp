// Bad input end to end: files whose ends look almost like tags, files too
// short to hold one, odd names and specifications. Each case shows what the
// run prints and that nothing changed where nothing should.
// docs/bad-inputs.md lists every case with the test that covers it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "support/run_tool.h"
#include "support/sample_files.h"

namespace kestrane {
namespace {

using namespace kestrane::testing;
namespace fs = std::filesystem;

const Bytes kSound = audio(1200, 7);
const Bytes kGoodTag = ape_tag({.item_bytes = 77, .fill = 'g'});

// The footer of a tag built from spec, with the given size field.
Bytes ape_with_size(std::uint32_t size, bool header = true) {
    return ape_tag({.item_bytes = 40, .header = header, .size_override = size});
}

// Files whose end is no tag the tool accepts, by name. Every one is refused
// as an input, left alone by an update-only run, and has the tag appended
// after its last byte by a default run.
std::map<std::string, Bytes> not_tags() {
    Bytes ape = ape_tag({.item_bytes = 100});
    Bytes headerless = ape_tag({.item_bytes = 100, .header = false});
    Bytes id3 = id3v1_tag("Cut");
    Bytes lone_footer(ape.end() - 32, ape.end());  // claims 100 item bytes the file lacks
    Bytes headerless_footer(headerless.end() - 32, headerless.end());
    return {
        {"size-0", kSound + ape_with_size(0)},
        {"size-31", kSound + ape_with_size(31)},
        {"size-32", kSound + ape_with_size(32)},
        {"size-268435456", kSound + ape_with_size(0x10000000)},
        {"size-268435457", kSound + ape_with_size(0x10000001)},
        {"size-2147483648", kSound + ape_with_size(0x80000000u)},
        {"size-4294967295", kSound + ape_with_size(0xFFFFFFFFu)},
        {"version-0", kSound + ape_tag({.version = 0})},
        {"version-1000", kSound + ape_tag({.header = false, .version = 1000})},
        {"version-1999", kSound + ape_tag({.version = 1999})},
        {"version-2001", kSound + ape_tag({.version = 2001})},
        {"item-count-0", kSound + ape_tag({.item_count = 0})},
        {"preamble-lower-case", kSound + ape_tag({.preamble = "apetagex"})},
        {"preamble-last-letter-lower", kSound + ape_tag({.preamble = "APETAGEx"})},
        {"marker-lower-case", kSound + id3v1_tag("Lower", "tag")},
        {"marker-mixed-case", kSound + id3v1_tag("Mixed", "Tag")},
        {"ape-cut-in-footer", kSound + Bytes(ape.begin(), ape.end() - 1)},
        {"ape-one-byte-after", kSound + ape + Bytes{0}},
        {"id3v1-cut", kSound + Bytes(id3.begin(), id3.end() - 1)},
        {"id3v1-one-byte-after", kSound + id3 + Bytes{0}},
        // the footer is valid but the tag would begin before the file does
        {"claims-one-byte-more", Bytes(ape.begin() + 1, ape.end())},
        {"headerless-claims-one-more", Bytes(headerless.begin() + 1, headerless.end())},
        {"claims-more-with-id3v1-marker", bytes_of("TAG") + Bytes(93, 'i') + headerless_footer},
        // the header flag set and no "APETAGEX" where the size puts the header, nor 32 bytes later
        {"header-flag-without-header", kSound + Bytes(kGoodTag.begin() + 32, kGoodTag.end())},
        {"header-flag-size-one-more", kSound + ape_tag({.item_bytes = 40, .size_override = 40 + 33})},
        {"bytes-0", {}},
        {"bytes-31", Bytes(31, 'T')},
        {"bytes-32-lone-footer", lone_footer},
        {"bytes-127-TAG", Bytes(id3.begin(), id3.end() - 1)},
        {"bytes-128-no-marker", Bytes(128, 'x')},
    };
}

TEST(BadInput, NearTagsAreRefusedAsInputsAndNeverReplacedOnOutputs) {
    std::map<std::string, Bytes> files = not_tags();
    ScratchFolder as_inputs, as_outputs;
    std::string refused_inputs = kBannerText, appended = kBannerText, refused_outputs = kBannerText;
    write_file(as_outputs / "good.ape", kSound + kGoodTag);
    for (const auto& [name, contents] : files) {
        write_file(as_inputs / (name + ".ape"), contents);
        write_file(as_inputs / (name + ".mp3"), kSound);
        write_file(as_outputs / (name + ".mp3"), contents);
        refused_inputs += entry(name + ".mp3", "file " + name + ".ape does not have valid tag!\n");
        refused_outputs += entry(name + ".mp3", "file " + name + ".mp3 does not have a valid tag!\n");
        appended += entry(name + ".mp3", "appended tag from good.ape\n");
    }
    EXPECT_EQ(run_in(as_inputs, {"*.ape", "*.mp3"}, 1).output, refused_inputs);
    EXPECT_EQ(run_in(as_outputs, {"-u", "good.ape", "*.mp3"}, 0).output, refused_outputs);
    for (const auto& [name, contents] : files) {
        EXPECT_EQ(read_file(as_inputs / (name + ".ape")), contents) << name;
        EXPECT_EQ(read_file(as_inputs / (name + ".mp3")), kSound) << name;
        EXPECT_EQ(read_file(as_outputs / (name + ".mp3")), contents) << name;
    }
    EXPECT_EQ(run_in(as_outputs, {"good.ape", "*.mp3"}, 0).output, appended);
    for (const auto& [name, contents] : files) {
        EXPECT_EQ(read_file(as_outputs / (name + ".mp3")), contents + kGoodTag) << name;
    }
}

// Tags right at the bounds, or filling their whole file: copied exactly as
// inputs, and replaced from their first byte on outputs.
TEST(BadInput, TagsAtTheBoundsAreCopiedAndReplacedExactly) {
    Bytes largest = zero_filled_ape_tag(0x10000000 - 1 - 32);  // sparse on disk
    const Bytes id3 = id3v1_tag("Block"), lone_footer(kGoodTag.end() - 32, kGoodTag.end());
    const Bytes version_1000 = kSound + ape_tag({.version = 1000}), over_bound = kSound + ape_with_size(0x10000000);
    std::map<std::string, std::pair<Bytes, std::size_t>> files = {  // contents, where the tag starts
        {"size-33", {kSound + ape_tag({.item_bytes = 1}), kSound.size()}},
        {"size-268435455", {kSound + largest, kSound.size()}},
        {"item-count-4294967295", {kSound + ape_tag({.item_count = 0xFFFFFFFFu}), kSound.size()}},
        {"ape-is-the-whole-file", {ape_tag({.item_bytes = 10}), 0}},
        {"headerless-is-the-whole-file", {ape_tag({.item_bytes = 10, .header = false}), 0}},
        {"bytes-128-id3v1", {id3v1_tag("Only"), 0}},
        // a footer that counts its header: the tag begins at the header
        {"header-counted-in-size", {kSound + ape_tag({.item_bytes = 40, .size_override = 40 + 64}), kSound.size()}},
        // a header-flagged footer whose header is nowhere in the file is no
        // tag: the ID3v1 test follows, and finds the block it ends
        {"header-flag-claims-more-with-id3v1-marker", {bytes_of("TAG") + Bytes(93, 'i') + lone_footer, 0}},
        // the tags that end the file as one block, and what is no part of it
        {"ape-then-id3v1", {kSound + kGoodTag + id3, kSound.size()}},
        {"ape-lyrics3v2-id3v1", {kSound + kGoodTag + lyrics3v2_block("Song") + id3, kSound.size()}},
        {"version-1000-before-id3v1", {version_1000 + id3, version_1000.size()}},
        {"size-268435456-before-id3v1", {over_bound + id3, over_bound.size()}},
        {"claims-more-before-id3v1", {Bytes(kGoodTag.begin() + 1, kGoodTag.end()) + id3, kGoodTag.size() - 1}},
        {"one-byte-gap-before-id3v1", {kSound + kGoodTag + Bytes{0} + id3, kSound.size() + kGoodTag.size() + 1}},
    };
    const Bytes old_tag = id3v1_tag("Old");
    for (const auto& [name, file] : files) {
        const auto& [contents, start] = file;
        Bytes tag(contents.begin() + static_cast<std::ptrdiff_t>(start), contents.end());
        ScratchFolder folder;
        write_file(folder / (name + ".ape"), contents);
        write_file(folder / "out.mp3", kSound + old_tag);
        EXPECT_EQ(run_in(folder, {name + ".ape", "out"}, 0).output,
                  kBannerText + entry("out.mp3", "updated tag from " + name + ".ape\n"));
        EXPECT_EQ(read_file(folder / "out.mp3"), kSound + tag) << name;
        EXPECT_EQ(read_file(folder / (name + ".ape")), contents) << name;

        write_file(folder / "in.ape", kSound + old_tag);
        EXPECT_EQ(run_in(folder, {"-u", "in.ape", name + ".ape"}, 0).output,
                  kBannerText + entry(name + ".ape", "updated tag from in.ape\n"));
        Bytes front(contents.begin(), contents.begin() + static_cast<std::ptrdiff_t>(start));
        EXPECT_EQ(read_file(folder / (name + ".ape")), front + old_tag) << name;
    }
}

// A new tag one byte shorter, as long as, or one byte longer than the tag it
// replaces: the output ends exactly after the new tag.
TEST(BadInput, ReplacingATagOfNearlyTheSameLengthCutsExactly) {
    const Bytes old_id3 = id3v1_tag("Old");
    const Bytes old_ape = ape_tag({.item_bytes = 60, .fill = 'o'});  // 124 bytes
    for (const Bytes& old_tag : {old_id3, old_ape}) {
        for (std::size_t length : {old_tag.size() - 1, old_tag.size(), old_tag.size() + 1}) {
            ScratchFolder folder;
            Bytes tag = ape_tag({.item_bytes = length - 64, .fill = 'n'});
            write_file(folder / "in.ape", kSound + tag);
            write_file(folder / "out.mp3", kSound + old_tag);
            EXPECT_EQ(run_in(folder, {"in.ape", "out.mp3"}, 0).output,
                      kBannerText + entry("out.mp3", "updated tag from in.ape\n"));
            EXPECT_EQ(read_file(folder / "out.mp3"), kSound + tag) << old_tag.size() << " -> " << length;
        }
    }
}

// Names with spaces, brackets, bytes outside ASCII and the longest names a
// file system takes pair and print exactly; letter case is folded for
// ASCII letters only.
TEST(BadInput, OddNamesPairAndPrintByteForByte) {
    ScratchFolder folder;
    const std::string longest(251, 'n');  // 255 bytes with ".ape"
    const std::vector<std::string> bases = {
        "two  spaces", " leading space", "Song [Live]", "[a-z]", "caf\xc3\xa9", "latin1 \xe9t\xe9",
        longest, "\xc3\x89T\xc3\x89"};
    std::string expected = kBannerText;
    std::vector<std::string> outputs;
    for (std::size_t i = 0; i < bases.size(); ++i) {
        write_file(folder / (bases[i] + ".ape"), kSound + ape_tag({.fill = static_cast<std::uint8_t>('a' + i)}));
        outputs.push_back(bases[i] + ".mp3");
    }
    outputs.push_back("\xc3\xa9t\xc3\xa9.mp3");  // the lower-case form of a non-ASCII input name
    std::sort(outputs.begin(), outputs.end());
    for (const std::string& name : outputs) {
        write_file(folder / name, kSound);
        std::string base = name.substr(0, name.size() - 4);
        bool has_input = std::find(bases.begin(), bases.end(), base) != bases.end();
        expected += entry(name, has_input ? "appended tag from " + base + ".ape\n" : "no matching input file!\n");
    }
    EXPECT_EQ(run_in(folder, {"*.ape", "*.mp3"}, 1).output, expected);  // "\xc3\xa9t\xc3\xa9.mp3" has no input
    for (std::size_t i = 0; i < bases.size(); ++i) {
        EXPECT_EQ(read_file(folder / (bases[i] + ".mp3")),
                  kSound + ape_tag({.fill = static_cast<std::uint8_t>('a' + i)}));
    }
    // the longest name given literally, without wildcards, and with brackets
    EXPECT_EQ(run_in(folder, {longest + ".ape", longest}, 0).output,
              kBannerText + entry(longest + ".mp3", "tag already up to date from " + longest + ".ape\n"));
    EXPECT_EQ(run_in(folder, {"[a-z].ape", "Song [Live].mp3"}, 0).output,
              kBannerText + entry("Song [Live].mp3", "updated tag from [a-z].ape\n"));
    // a name one byte too long for the file system is simply not found
    EXPECT_EQ(run_in(folder, {longest + "x.ape", "*.mp3"}, 1).output,
              std::string(kBannerText) + "file " + longest + "x.ape not found!\n");
}

// Specifications that name directories: directories are never listed, so
// the run reports that nothing was found and changes nothing.
TEST(BadInput, SpecificationsNamingDirectoriesFindNoFiles) {
    ScratchFolder folder;
    fs::create_directory(folder / "music");
    fs::create_directory(folder / "album.mp3");
    write_file(folder / "in.ape", kSound + kGoodTag);
    write_file(folder / "music" / "a.mp3", kSound);
    const std::map<std::string, std::string> printed = {
        {"music", "file music.mp3 not found!\n"},       // ".mp3" is added
        {"music/", "file music/.mp3 not found!\n"},     // names starting with '.' are hidden
        {"album.mp3", "file album.mp3 not found!\n"},   // a directory with a file-like name
        {".", "file ..mp3 not found!\n"},
        {"..", "file ...mp3 not found!\n"},
        {"/", "file /.mp3 not found!\n"},
        {"nosuch/*.mp3", "no output files found!\n"},
        {"album.mp3/*", "no output files found!\n"},
    };
    for (const auto& [specification, message] : printed) {
        EXPECT_EQ(run_in(folder, {"in.ape", specification}, 1).output, kBannerText + message) << specification;
        std::string as_input = message;
        if (as_input == "no output files found!\n") as_input = "no input files found!\n";
        EXPECT_EQ(run_in(folder, {specification, "music/a.mp3"}, 1).output, kBannerText + as_input) << specification;
    }
    // '*' in a directory component is not expanded
    EXPECT_EQ(run_in(folder, {"in.ape", "mus*/a.mp3"}, 1).output, kBannerText + std::string("no output files found!\n"));
    EXPECT_EQ(read_file(folder / "music" / "a.mp3"), kSound);
}

}  // namespace
}  // namespace kestrane
