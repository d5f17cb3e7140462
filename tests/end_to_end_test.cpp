// The end-to-end cases that mean the same for the POSIX and the Windows
// tool, built into both end-to-end test programs: the built executable in
// scratch folders, its complete standard output and the bytes of every file
// afterwards. Where the platforms differ is kPlatform's (see
// support/end_to_end_case.h).
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <set>

#include "support/end_to_end_case.h"
#include "support/run_tool.h"
#include "support/sample_files.h"

namespace kestrane {
namespace {

using namespace kestrane::testing;
namespace fs = std::filesystem;

const std::string kRefused = "can't open output file, may be write protected!\n";

std::string illegal(std::string_view letters) {
    std::string lines;
    for (char letter : letters) lines += "illegal option: " + std::string(1, letter) + " !\n\n";
    return lines;
}

// A bad command line (status 2), or --help (status 0), prints the usage and
// opens no file.
TEST(CommandLine, WithoutARunnableCommandLineOnlyTheUsageIsPrinted) {
    const std::string usage = kUsageText;
    const std::string too_many = "too many file specifications, quote wildcards (e.g. '*.mp3') !\n\n";
    const bool slash_help = kPlatform.option == '/';  // "/?" asks for help on Windows; "-?" is no option on POSIX
    check({.files = {{"a.ape", kAudio + kId3Tag}, {"b.ape", kAudio + kApeTag}, {"a.mp3", kAudio + kOldApe},
                     {"b.mp3", kAudio}, {"c.mp3", kAudio}},
           .runs = {{{}, usage, 2},
                    {{"a.mp3"}, usage, 2},
                    {{"-a", "-", "a.mp3"}, usage, 2},  // a lone '-' is an empty group, no specification
                    {{"--help"}, usage, 0},
                    {{"-x", "a.ape", "a.mp3", "--help"}, usage, 0},  // --help wins wherever it stands
                    {{"a.ape", "--help", "a.mp3", "extra"}, usage, 0},
                    {{"--json", "--help"}, usage, 0},  // help is text for people, --json or not
                    // only the exact words; any other "--" word is one illegal option
                    {{"--helpx", "a.ape", "a.mp3"}, "illegal option: --helpx !\n\n" + usage, 2},
                    {{"--jsonx", "-n", "a.ape", "a.mp3"}, "illegal option: --jsonx !\n\n" + usage, 2},
                    {{"-x", "a.mp3", "b.mp3"}, illegal("x") + usage, 2},
                    {{"-a?Z", "a", "b", "-q"}, illegal("?Z") + usage, 2},  // quiet: no banner, the rest as ever
                    {{option("Q")}, usage, 2},
                    {{option("?")}, (slash_help ? "" : illegal("?")) + usage, slash_help ? 0 : 2},
                    {{"a.ape", option("?"), "a.mp3"}, (slash_help ? "" : illegal("?")) + usage, slash_help ? 0 : 2},
                    {{option("?x"), "a.ape", "a.mp3"}, illegal("?x") + usage, 2},
                    // A shell expanded an unquoted wildcard: refused once, in
                    // argument order among the illegal options.
                    {{"a.mp3", "b.mp3", "c.mp3"}, too_many + usage, 2},
                    {{"a.mp3", "b.mp3", "c.mp3", "d.mp3"}, too_many + usage, 2},
                    {{option("x"), "a.ape", "b.ape", "a.mp3", option("y"), "*.wav"},
                     illegal("x") + too_many + illegal("y") + usage, 2}}});
}

// "--" ends the options: every later argument is a file specification,
// "--help", "--json" and "-x" too (and "/?" on Windows).
TEST(CommandLine, DoubleDashEndsTheOptions) {
    check({.files = {{"-x.ape", kAudio + kApeTag}, {"--help.mp3", kAudio}},
           .runs = {{{"-u", "--", "-x.ape", "--help"}, entry("--help.mp3", "file --help.mp3 does not have a valid tag!\n"), 0},
                    {{"--", "-x.ape", "--help"}, entry("--help.mp3", "appended tag from -x.ape\n"), 0,
                     {{"--help.mp3", kAudio + kApeTag}}},
                    {{"--", "-x.ape", "--json"}, "file --json.mp3 not found!\n", 1},
                    {{option("u"), "--", "-x.ape", option("?")}, "no output files found!\n", 1}}});
}

TEST(CommandLine, VersionPrintsTheVersionAlone) {
    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kApeTag);
    write_file(folder / "out.mp3", kAudio);
    for (std::vector<std::string> arguments : {std::vector<std::string>{"--version"}, {"in.ape", "out.mp3", "--version"}}) {
        EXPECT_EQ(run_in(folder, arguments, 0).output, reported("kestrane " KESTRANE_VERSION "\n"));
    }
    EXPECT_EQ(read_file(folder / "out.mp3"), kAudio);
}

// The modes and their refusals, which leave both files as they were. The
// last mode letter wins, wherever options stand, in either case.
TEST(CommandLine, TheLastModeLetterWinsWhereverOptionsStand) {
    const std::string untagged = entry("out.mp3", "file out.mp3 does not have a valid tag!\n");
    check({.files = {{"in.ape", kAudio + kApeTag}, {"bare.ape", kAudio}, {"ape.mp3", kAudio + kOldApe},
                     {"id3.mp3", kAudio + kOldId3}, {"new.mp3", kAudio}, {"out.mp3", kAudio}},
           .runs = {{{"-a", "-u", "in.ape", "out"}, untagged, 0},  // refusals asked for are no failure
                    {{"-au", "in.ape", "out"}, untagged, 0},
                    {{option("U"), "in.ape", "out.mp3"}, untagged, 0},
                    {{"-a", "in.ape", "ape.mp3"}, entry("ape.mp3", "file ape.mp3 already has valid tag!\n"), 0},
                    {{option("a"), "in.ape", "id3"}, entry("id3.mp3", "file id3.mp3 already has valid tag!\n"), 0},
                    {{"bare.ape", "ape.mp3"}, entry("ape.mp3", "file bare.ape does not have valid tag!\n"), 1},
                    {{"-ua", "in.ape", "-", "out"}, entry("out.mp3", "appended tag from in.ape\n"), 0,
                     {{"out.mp3", kAudio + kApeTag}}},
                    {{"in.ape", "out", "-a"}, entry("out.mp3", "file out.mp3 already has valid tag!\n"), 0},
                    {{"in.ape", option("u"), "new.mp3", "-A"}, entry("new.mp3", "appended tag from in.ape\n"), 0,
                     {{"new.mp3", kAudio + kApeTag}}}}});
}

// Each output takes the tag of the one input of its base name (up to the
// first dot, letter case aside), and every path keeps the folder of its
// specification, with each separator the platform takes.
TEST(Batch, ManyToManyPairsByBaseNameAndReportsEveryOutput) {
    auto report = [](const std::string& done) {
        return entry("out.d/A.mp3", done + " from in/a.live.ape\n") + entry("out.d/b.mp3", done + " from in/b.ape\n") +
               entry("out.d/c.mp3", "file in/c.ape does not have valid tag!\n") +
               entry("out.d/d.mp3", "no matching input file!\n") + entry("out.d/e.mp3", done + " from in/e.ape\n");
    };
    const Case many_to_many = {
        .files = {{"in/a.live.ape", kAudio + kApeTag}, {"in/b.ape", kAudio + kId3Tag}, {"in/c.ape", kAudio},
                  {"in/e.ape", kAudio + kApeTag}, {"out.d/A.mp3", kAudio + kOldId3}, {"out.d/b.mp3", kAudio + kOldApe},
                  {"out.d/c.mp3", kAudio}, {"out.d/d.mp3", kAudio}, {"out.d/e.mp3", kAudio + kOldApe + kOldId3}},
        .runs = {{{"in/*.ape", "out.d/*"}, report("updated tag"), 1,
                  {{"out.d/A.mp3", kAudio + kApeTag},              // APEv2 over ID3v1: the file grows
                   {"out.d/b.mp3", kAudio + kId3Tag},              // ID3v1 over APEv2: cut after the 128 bytes
                   {"out.d/e.mp3", kAudio + kApeTag}}},            // the APEv2 tag in front of the ID3v1 tag goes too
                 {{"-u", "in/*.ape", "out.d/?.*"}, report("tag already up to date"), 1}}};  // found in place
    for (char separator : kPlatform.separators) check(many_to_many, separator);
}

// Also through a wildcard that lists only it, and in absolute paths.
TEST(Batch, OneInputServesEveryOutputWhateverItsName) {
    check({.files = {{"in/song.ape", kAudio + kApeTag}, {"in/other.tag", kAudio + kId3Tag}, {"out/x.mp3", kAudio},
                     {"out/y.MP3", kAudio + kOldId3}},
           .runs = {{{"in/song.ape", "out/*.mp3"},
                     entry("out/x.mp3", "appended tag from in/song.ape\n") +
                         entry("out/y.MP3", "updated tag from in/song.ape\n"),
                     0, {{"out/x.mp3", kAudio + kApeTag}, {"out/y.MP3", kAudio + kApeTag}}},
                    {{"@/in/*.ape", "@/out/*"},
                     entry("@/out/x.mp3", "tag already up to date from @/in/song.ape\n") +
                         entry("@/out/y.MP3", "tag already up to date from @/in/song.ape\n"), 0},
                    {{"@/in/other.tag", "@/out/x"}, entry("@/out/x.mp3", "updated tag from @/in/other.tag\n"), 0,
                     {{"out/x.mp3", kAudio + kId3Tag}}}}});
}

TEST(Batch, TwoInputsWithOneBaseNameAreAmbiguous) {
    check({.files = {{"in/a.ape", kAudio + kApeTag}, {"in/a.flac", kAudio + kId3Tag}, {"a.mp3", kAudio}},
           .runs = {{{"in/a.*", "a.mp3"}, entry("a.mp3", "multiple matching input files!\n"), 1}}});
}

// An empty list ends the run with one line; a plain name shows with the
// default extension it was given.
TEST(Batch, NothingFoundIsReportedOnce) {
    check({.files = {{"in.ape", kAudio + kApeTag}, {"out.mp3", kAudio}},
           .runs = {{{"x.mp3", "*.mp3"}, "file x.mp3 not found!\n", 1},
                    {{"nosuch", "*.mp3"}, "file nosuch.mp3 not found!\n", 1},
                    {{"*.wav", "*.ogg"}, "no input files found!\n", 1},
                    {{"missing/*.ape", "*"}, "no input files found!\n", 1},
                    {{"in.ape", "*.ogg"}, "no output files found!\n", 1},
                    {{"in.ape", "nope"}, "file nope.mp3 not found!\n", 1},
                    {{"in.ape", "sub/out"}, "file sub/out.mp3 not found!\n", 1}}});
}

// A quiet run (-q, in any group, either case) shows only the outputs whose
// tag was written (or would be) and those that did not get it, then the
// totals, redirected too; no banner. spare.ape is an input no output takes;
// the two inputs of twice.mp3 count as taken.
TEST(Quiet, OnlyOutputsChangedOrNotDoneThenTheTotals) {
    const std::string alone = entry("alone.mp3", "no matching input file!\n");
    const std::string bare = entry("bare.mp3", "file bare.ape does not have valid tag!\n");
    const std::string protected_and_twice =
        entry("protected.mp3", kRefused) + entry("twice.mp3", "multiple matching input files!\n");
    auto totals = [](const std::string& counts) { return "\n7 outputs: " + counts + ", 1 input without an output\n"; };
    check({.files = {{"spare.ape", kAudio + kApeTag}},
           .runs = {{{"-nq", "*.ape", "*.mp3"},
                     alone + entry("append.mp3", "would append tag from append.ape\n") + bare + protected_and_twice +
                         entry("update.mp3", "would update tag from update.ape\n") +
                         totals("1 updated, 1 appended, 1 up to date, 4 not done"),
                     1},
                    {{"-uq", "*.ape", "*.mp3"},
                     alone + bare + protected_and_twice + entry("update.mp3", "updated tag from update.ape\n") +
                         totals("1 updated, 0 appended, 1 up to date, 4 not done, 1 left alone"),
                     1, {{"update.mp3", kAudio + kApeTag}}},
                    {{option("Qa"), "*.ape", "*.mp3"},
                     alone + entry("append.mp3", "appended tag from append.ape\n") + bare + protected_and_twice +
                         totals("0 updated, 1 appended, 0 up to date, 4 not done, 2 left alone"),
                     1, {{"append.mp3", kAudio + kId3Tag}}},
                    {{"*.ape", option("q"), "*.mp3"},
                     alone + bare + protected_and_twice + totals("0 updated, 0 appended, 3 up to date, 4 not done"), 1}},
           .prepare =
               [](const ScratchFolder& folder) {
                   write_every_outcome_samples(folder);
                   kPlatform.write_protect(folder, {"protected.mp3"});
               }});
}

// Whatever name the input's file goes by as an output, the output is refused
// (on Windows, a sharing violation). The listed name is the one on disk; the
// folder part is as typed.
TEST(Copy, TheSameFileUnderTwoNamesIsNeverBothInputAndOutput) {
    check({.files = {{"a.mp3", kAudio + kApeTag}, {"b.mp3", kAudio}},
           .runs = {{{"a.mp3", "a.mp3"}, entry("a.mp3", kRefused), 1},
                    {{"a.mp3", "./a.mp3"}, entry("./a.mp3", kRefused), 1},
                    {{"a.mp3", "A.MP3"}, entry("a.mp3", kRefused), 1},
                    {{"a.mp3", "@/./A.MP3"}, entry("@/./a.mp3", kRefused), 1},
                    {{"a.mp3", "hard.mp3"}, entry("hard.mp3", kRefused), 1},
                    {{"a.mp3", "*.mp3"},
                     entry("a.mp3", kRefused) + entry("b.mp3", "appended tag from a.mp3\n") + entry("hard.mp3", kRefused),
                     1, {{"b.mp3", kAudio + kApeTag}}}},
           .prepare = [](const ScratchFolder& folder) { fs::create_hard_link(folder / "a.mp3", folder / "hard.mp3"); }});
}

// On POSIX also for root, who could write it. A write-protected input is
// read like any other.
TEST(Copy, WriteProtectedOutputsAreRefusedEvenForRoot) {
    check({.files = {{"in.ape", kAudio + kApeTag}, {"locked.mp3", kAudio + kOldId3}, {"open.mp3", kAudio + kOldId3}},
           .runs = {{{"in.ape", "locked.mp3"}, entry("locked.mp3", kRefused), 1},
                    {{"in.ape", "*.mp3"}, entry("locked.mp3", kRefused) + entry("open.mp3", "updated tag from in.ape\n"),
                     1, {{"open.mp3", kAudio + kApeTag}}}},
           .prepare = [](const ScratchFolder& folder) { kPlatform.write_protect(folder, {"in.ape", "locked.mp3"}); }});
}

TEST(Copy, HeaderlessApeTagsAreCopiedAndReplacedExactly) {
    const Bytes headerless = ape_tag({.item_bytes = 70, .header = false, .fill = 'h'});
    const Bytes old_headerless = ape_tag({.item_bytes = 300, .header = false, .fill = 'o'});
    check({.files = {{"a.ape", kAudio + headerless}, {"a.mp3", kAudio + old_headerless}, {"b.ape", kAudio + kApeTag},
                     {"b.mp3", kAudio + old_headerless}},
           .runs = {{{"*.ape", "*.mp3"},
                     entry("a.mp3", "updated tag from a.ape\n") + entry("b.mp3", "updated tag from b.ape\n"), 0,
                     {{"a.mp3", kAudio + headerless}, {"b.mp3", kAudio + kApeTag}}}}});
}

// The tags that end a file are one block: an ID3v1 tag with the Lyrics3v2
// block and the APEv2 tag right in front of it. Each input's whole block is
// copied: it replaces an output's whole block (whatever stays in front of
// that block stays) or is appended after an output without one; a second
// run finds every output up to date. In every mode.
TEST(Copy, TheTagsThatEndAFileAreCopiedAndReplacedAsOneBlock) {
    const Bytes headerless = ape_tag({.item_bytes = 70, .header = false, .fill = 'h'});
    const Bytes lyrics = lyrics3v2_block("Input lyrics");
    const std::pair<std::string, Bytes> inputs[] = {{"ape+id3", kApeTag + kId3Tag},
                                                    {"headerless+id3", headerless + kId3Tag},
                                                    {"ape+lyrics+id3", kApeTag + lyrics + kId3Tag},
                                                    {"lyrics+id3", lyrics + kId3Tag},
                                                    {"id3", kId3Tag}};
    const Bytes old_headerless = ape_tag({.item_bytes = 300, .header = false, .fill = 'o'});
    const std::map<std::string, std::pair<Bytes, Bytes>> outputs = {  // what stays in front, the old block
        {"none", {kAudio, {}}},
        {"ape+id3", {kAudio, kOldApe + kOldId3}},
        {"headerless+id3", {kAudio, old_headerless + kOldId3}},
        {"ape+lyrics+id3", {kAudio, kOldApe + lyrics3v2_block("Old") + kOldId3}},
        {"version-1000", {kAudio + ape_tag({.version = 1000}), kOldId3}},
        {"size-over-bound", {kAudio + ape_tag({.size_override = 0x10000000}), kOldId3}},
        {"starts-before-the-file", {Bytes(kOldApe.begin() + 1, kOldApe.end()), kOldId3}},
        {"one-byte-gap", {kAudio + kOldApe + Bytes{0}, kOldId3}}};
    for (const auto& [input, block] : inputs) {
        Files files = {{"in.ape", kAudio + block}}, written;
        std::string update_only, append_only, by_default, up_to_date;  // the reports
        for (const auto& [output, old] : outputs) {
            const std::string name = "o-" + output + ".mp3";
            const bool tagged = !old.second.empty();
            files[name] = old.first + old.second;
            written[name] = old.first + block;
            const std::string has_none = "file " + name + " does not have a valid tag!\n";
            const std::string has_one = "file " + name + " already has valid tag!\n";
            update_only += entry(name, tagged ? "updated tag from in.ape\n" : has_none);
            append_only += entry(name, tagged ? has_one : "appended tag from in.ape\n");
            by_default += entry(name, (tagged ? "updated" : "appended") + std::string(" tag from in.ape\n"));
            up_to_date += entry(name, "tag already up to date from in.ape\n");
        }
        Files appended = {{"o-none.mp3", written["o-none.mp3"]}}, updated = written;
        updated.erase("o-none.mp3");
        SCOPED_TRACE(input);
        check({.files = files,
               .runs = {{{"-u", "in.ape", "o-*"}, update_only, 0, updated},
                        {{"-a", "in.ape", "o-*"}, append_only, 0, appended},
                        {{"in.ape", "o-*"}, up_to_date, 0}}});
        check({.files = files,
               .runs = {{{"in.ape", "o-*"}, by_default, 0, written}, {{"in.ape", "o-*"}, up_to_date, 0}}});
    }
}

// A footer whose size reaches into the audio never makes audio a tag: with
// the header flag, "APETAGEX" must stand where the size puts the header, or
// 32 bytes later when the size counts the header (the tag then begins
// there). As input and as output in every mode; the audio always stays.
TEST(Copy, AFooterWhoseSizeReachesIntoTheAudioNeverTakesIt) {
    const Bytes long_audio = audio((3 << 20) + 500, 9);
    const Bytes too_big = ape_tag({.item_bytes = 200, .size_override = 200 + 32 + (1 << 20), .fill = 'b'});
    const Bytes counted = ape_tag({.item_bytes = 200, .size_override = 200 + 64, .fill = 'c'});
    const Bytes old_counted = ape_tag({.item_bytes = 500, .size_override = 500 + 64, .fill = 'o'});
    const Files files = {{"big.ape", long_audio + too_big}, {"counted.ape", kAudio + counted},
                         {"a-big.mp3", long_audio + too_big}, {"a-counted.mp3", kAudio + old_counted},
                         {"a-plain.mp3", kAudio}};
    const std::string no_tag = entry("a-big.mp3", "file big.ape does not have valid tag!\n") +
                               entry("a-counted.mp3", "file big.ape does not have valid tag!\n") +
                               entry("a-plain.mp3", "file big.ape does not have valid tag!\n");
    const std::string appended = "appended tag from counted.ape\n", updated = "updated tag from counted.ape\n";
    const Files grown = {{"a-big.mp3", long_audio + too_big + counted}, {"a-plain.mp3", kAudio + counted}};
    check({.files = files,
           .runs = {{{"big.ape", "a-*"}, no_tag, 1},
                    {{"counted.ape", "a-*"},
                     entry("a-big.mp3", appended) + entry("a-counted.mp3", updated) + entry("a-plain.mp3", appended), 0,
                     {{"a-big.mp3", long_audio + too_big + counted}, {"a-counted.mp3", kAudio + counted},
                      {"a-plain.mp3", kAudio + counted}}}}});
    check({.files = files,
           .runs = {{{"-a", "big.ape", "a-*"}, no_tag, 1},
                    {{"-a", "counted.ape", "a-*"},
                     entry("a-big.mp3", appended) +
                         entry("a-counted.mp3", "file a-counted.mp3 already has valid tag!\n") +
                         entry("a-plain.mp3", appended),
                     0, grown}}});
    check({.files = files,
           .runs = {{{"-u", "big.ape", "a-*"}, no_tag, 1},
                    {{"-u", "counted.ape", "a-*"},
                     entry("a-big.mp3", "file a-big.mp3 does not have a valid tag!\n") +
                         entry("a-counted.mp3", updated) +
                         entry("a-plain.mp3", "file a-plain.mp3 does not have a valid tag!\n"),
                     0, {{"a-counted.mp3", kAudio + counted}}}}});
}

// Blanks and brackets are parts of a name like any other; hidden files,
// folders and names that only hold ".mp3" are not listed.
TEST(Listing, MatchesNamesAsAWindowsUserExpects) {
    const std::string appended = "appended tag from in.ape\n", in_place = "tag already up to date from in.ape\n";
    check({.files = {{"in.ape", kAudio + kId3Tag}, {"a b.mp3", kAudio}, {"b.MP3", kAudio}, {"c [Live].mp3", kAudio},
                     {".hidden.mp3", kAudio}, {"a.mp3.bak", kAudio}, {"dir.mp3/", {}}},
           .runs = {{{"in.ape", "*.mp3"}, entry("a b.mp3", appended) + entry("b.MP3", appended) + entry("c [Live].mp3", appended),
                     0, {{"a b.mp3", kAudio + kId3Tag}, {"b.MP3", kAudio + kId3Tag}, {"c [Live].mp3", kAudio + kId3Tag}}},
                    {{"in.ape", "c [Live]"}, entry("c [Live].mp3", in_place), 0},
                    {{"in.ape", "a b"}, entry("a b.mp3", in_place), 0},
                    {{"in.ape", "?.mp3"}, entry("b.MP3", in_place), 0}}});
}

// Files past 4 GiB (sparse, so they take no room), in every mode: the tag
// is found and written at its 64-bit position, a small one (over an APEv2
// and an ID3v1 tag) and a 20 MiB one (cover art) over an old tag of 5 MiB,
// byte for byte.
TEST(Copy, FilesBeyondFourGibibytes) {
    constexpr std::uintmax_t kFront = (std::uintmax_t{1} << 32) + 1000;
    const Bytes cover = ape_tag({.item_bytes = 20 << 20, .fill = 'c'});
    const Bytes old_cover = ape_tag({.item_bytes = 5 << 20, .fill = 'o'});
    for (const auto& [tag, old_tag] : {std::pair{kApeTag, kOldApe}, std::pair{kApeTag, kOldId3},
                                       std::pair{cover, old_cover}}) {
        for (std::string mode : {"", "a", "u"}) {
            ScratchFolder folder;
            write_file(folder / "in.ape", kAudio + tag);
            write_sparse_file(folder / "big1.mp3", kFront, old_tag);
            write_sparse_file(folder / "big2.mp3", kFront, {});
            bool updates = mode != "a", appends = mode != "u";
            std::vector<std::string> arguments = {"in.ape", "big*"};
            if (!mode.empty()) arguments.insert(arguments.begin(), option(mode));
            std::string big1 = updates ? "updated tag from in.ape\n" : "file big1.mp3 already has valid tag!\n";
            std::string big2 = appends ? "appended tag from in.ape\n" : "file big2.mp3 does not have a valid tag!\n";
            EXPECT_EQ(run_in(folder, arguments, 0).output,
                      reported(kBannerText + entry("big1.mp3", big1) + entry("big2.mp3", big2)))
                << mode;
            for (const auto& [name, now] :
                 {std::pair{"big1.mp3", updates ? tag : old_tag}, std::pair{"big2.mp3", appends ? tag : Bytes{}}}) {
                ASSERT_EQ(fs::file_size(folder / name), kFront + now.size()) << name << " " << mode;
                EXPECT_EQ(read_file_end(folder / name, now.size() + 8), Bytes(8, 0) + now) << name << " " << mode;
            }
        }
    }
}

// A lowered file-size limit (which wine inherits) makes the tag write fail
// partway; the output must come back exactly as it was. The 20 MiB tag
// overwrites all of cover.mp3's 5 MiB one before it fails, so its undo puts
// back every byte.
TEST(Faults, AFailedWriteLeavesTheOutputAsItWas) {
    ScratchFolder folder;
    const Bytes old_cover = ape_tag({.item_bytes = 5 << 20, .fill = 'c'});
    write_file(folder / "in.ape", kAudio + ape_tag({.item_bytes = 20 << 20, .fill = 'b'}));
    write_file(folder / "append.mp3", kAudio);
    write_file(folder / "cover.mp3", kAudio + old_cover);
    write_file(folder / "update.mp3", kAudio + kOldApe);
    auto before = snapshot(folder.path);
    ToolRun run = run_tool(folder.path, {"in.ape", "*.mp3"}, {.file_size_limit = kAudio.size() + old_cover.size() + 1024});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.output, reported(kBannerText + entry("append.mp3", "error appending tag!\n") +
                                   entry("cover.mp3", "error updating tag!\n") +
                                   entry("update.mp3", "error updating tag!\n")));
    EXPECT_EQ(snapshot(folder.path), before);
}

// A folder in which a many-to-many run meets every outcome there is: the
// shared samples, a write-protected output, files another program holds
// (where the tool sees them held), and files met again under other names
// after the run has changed them: two more names of an output, and one that
// is a later pair's input.
void make_every_outcome(const ScratchFolder& folder) {
    write_every_outcome_samples(folder);
    fs::create_hard_link(folder / "append.mp3", folder / "append.x.mp3");
    kPlatform.another_name(folder / "append.mp3", folder / "append.y.mp3");
    fs::create_hard_link(folder / "append.mp3", folder / "zlate.ape");
    write_file(folder / "zlate.mp3", kAudio);
    kPlatform.write_protect(folder, {"protected.mp3"});
    for (const char* held : {"heldin", "heldout"}) {
        write_file(folder / (held + std::string(".ape")), kAudio + kApeTag);
        write_file(folder / (held + std::string(".mp3")), kAudio);
    }
    age_files(folder);
}

// A dry run reports exactly what the real run does, with "would" on the
// lines that place a tag, and changes no byte and no modification time.
TEST(DryRun, ReportsWhatARealRunWouldDoAndChangesNothing) {
    // Each mode with its dry run, and what its real run must report among the rest.
    struct Mode {
        std::vector<std::string> mode, dry_mode;
        std::vector<std::string> lines, lines_when_held;
    };
    const Mode modes[] = {
        {{}, {option("n")},
         {"updated tag from update.ape", "appended tag from append.ape", "file bare.ape does not have valid tag!",
          "append.x.mp3:\ntag already up to date from append.ape", "zlate.mp3:\nappended tag from zlate.ape",
          "insync.mp3:\ntag already up to date from insync.ape",
          "no matching input file!", "multiple matching input files!",
          "protected.mp3:\ncan't open output file, may be write protected!"},
         {"can't open input file heldin.ape!", "heldout.mp3:\ncan't open output file, may be write protected!"}},
        {{option("a")}, {"-An"},
         {"file update.mp3 already has valid tag!", "appended tag from append.ape",
          "file append.y.mp3 already has valid tag!", "file insync.mp3 already has valid tag!"},
         {}},
        {{"-u"}, {option("N"), option("u")}, {"updated tag from update.ape", "file append.mp3 does not have a valid tag!"}, {}},
    };
    for (const Mode& m : modes) {
        ScratchFolder real, dry;
        make_every_outcome(real);
        make_every_outcome(dry);
        std::vector<int> held;
        for (const ScratchFolder* folder : {&real, &dry}) {
            for (const char* name : {"heldin.ape", "heldout.mp3"}) {
                if (!kPlatform.hold) continue;
                held.push_back(kPlatform.hold(*folder / name));
                ASSERT_GE(held.back(), 0) << name;
            }
        }
        auto bytes_before = snapshot(dry.path);
        auto times_before = modification_times(dry);
        std::vector<std::string> real_arguments = m.mode, dry_arguments = m.dry_mode;
        for (auto* arguments : {&real_arguments, &dry_arguments}) arguments->insert(arguments->end(), {"*.ape", "*.mp3"});
        ToolRun real_run = run_in(real, real_arguments, 1);  // alone.mp3 has no input
        ToolRun dry_run = run_in(dry, dry_arguments, 1);
        for (int descriptor : held) ::close(descriptor);

        std::vector<std::string> lines = m.lines;
        if (kPlatform.hold) lines.insert(lines.end(), m.lines_when_held.begin(), m.lines_when_held.end());
        for (const std::string& line : lines) {
            EXPECT_NE(real_run.output.find(reported("\n" + line + "\n")), std::string::npos) << line;
        }
        EXPECT_NE(snapshot(real.path), bytes_before) << dry_arguments[0];
        EXPECT_EQ(dry_run.output, as_dry_run(real_run.output)) << dry_arguments[0];
        EXPECT_EQ(snapshot(dry.path), bytes_before) << dry_arguments[0];
        EXPECT_EQ(modification_times(dry), times_before) << dry_arguments[0];
    }
}

// --undo takes back the last run on record, byte for byte, its changes
// last first: a sync run the wrong way round (the lossy tags over the
// lossless ones) too. Again, it goes one run further back; a run that
// undid is no run to undo itself. Each run keeps its journal in the state
// folder beside the scratch folder, so these runs share it.
TEST(Undo, TakesBackTheLastRunOnRecordByteForByte) {
    const std::string undoing = "undoing the run of <time> in @: kestrane ";
    const auto put_back = [](std::string_view name) { return entry("@/" + std::string(name), "put back as it was before the run\n"); };
    check({.files = {{"a.ape", kAudio + kApeTag}, {"a.mp3", kAudio + kOldId3}, {"b.ape", kAudio + kId3Tag},
                     {"b.mp3", kAudio}, {"x.ape", kAudio + kOldApe}},
           .runs = {{{"*.mp3", "*.ape"}, entry("a.ape", "updated tag from a.mp3\n") +
                                             entry("b.ape", "file b.mp3 does not have valid tag!\n") +
                                             entry("x.ape", "no matching input file!\n"), 1,
                     {{"a.ape", kAudio + kOldId3}}},
                    {{"-n", "--undo"}, undoing + "'*.mp3' '*.ape'\n" +
                                           entry("@/a.ape", "would put back as it was before the run\n"), 0},
                    {{"--undo"}, undoing + "'*.mp3' '*.ape'\n" + put_back("a.ape"), 0, {{"a.ape", kAudio + kApeTag}}},
                    {{"*.ape", "*.mp3"}, entry("a.mp3", "updated tag from a.ape\n") +
                                             entry("b.mp3", "appended tag from b.ape\n"), 0,
                     {{"a.mp3", kAudio + kApeTag}, {"b.mp3", kAudio + kId3Tag}}},
                    {{"x.ape", "a.mp3"}, entry("a.mp3", "updated tag from x.ape\n"), 0, {{"a.mp3", kAudio + kOldApe}}},
                    {{"--undo"}, undoing + "x.ape a.mp3\n" + put_back("a.mp3"), 0, {{"a.mp3", kAudio + kApeTag}}},
                    {{"--undo"}, undoing + "'*.ape' '*.mp3'\n" + put_back("b.mp3") + put_back("a.mp3"), 0,
                     {{"a.mp3", kAudio + kOldId3}, {"b.mp3", kAudio}}},
                    {{"--undo"}, "no run on record to undo!\n", 1}}});
}

// --json makes the report JSON Lines and leaves the run as it is: in every
// mode, and with writes that fail (two big tags at a file-size limit), the
// objects are the text report's entries in order (each output's path, its
// line as "message", the input of its base name or null where none was
// chosen, the outcome's word), and the summary carries the run's status;
// between them the runs meet every outcome. Lines that stand for no output,
// and a bad command line, give message objects and no usage text.
TEST(JsonLines, EveryOutputIsAnObjectAndTheSummaryComesLast) {
    const Bytes big_tag = ape_tag({.item_bytes = 100000, .fill = 'b'});
    const RunOptions failing_writes{.file_size_limit = 50000};
    const std::pair<std::vector<std::string>, RunOptions> modes[] = {
        {{}, {}}, {{option("a")}, {}}, {{option("u")}, {}}, {{option("n")}, {}}, {{}, failing_writes}};
    std::set<std::string> outcomes;
    for (const auto& [mode, options] : modes) {
        ScratchFolder text, json;
        std::vector<int> held;
        for (const ScratchFolder* folder : {&text, &json}) {
            make_every_outcome(*folder);
            write_file(*folder / "bigupdate.ape", kAudio + big_tag);
            write_file(*folder / "bigupdate.mp3", kAudio + kOldId3);
            write_file(*folder / "bigappend.ape", kAudio + big_tag);
            write_file(*folder / "bigappend.mp3", kAudio);
            write_file(*folder / "spare.ape", kAudio + kApeTag);  // no output takes it
            for (const char* name : {"heldin.ape", "heldout.mp3"}) {
                if (kPlatform.hold) held.push_back(kPlatform.hold(*folder / name));
            }
        }
        std::vector<std::string> arguments = mode;
        arguments.insert(arguments.end(), {"*.ape", "*.mp3"});
        ToolRun text_run = run_tool(text.path, arguments, options);
        arguments.insert(arguments.begin(), "--json");
        ToolRun json_run = run_tool(json.path, arguments, options);
        for (int descriptor : held) ::close(descriptor);
        SCOPED_TRACE(arguments[1]);

        std::vector<JsonRecord> records = json_records(json_run.output);
        ASSERT_GE(records.size(), 2u);
        EXPECT_EQ(records.back(), (JsonRecord{"summary", "1", mode == std::vector{option("n")} ? "true" : "false"}));
        EXPECT_EQ(records[records.size() - 2], (JsonRecord{"unused_input", "spare.ape"}));
        EXPECT_EQ(json_run.exit_status, 1);  // alone.mp3 has no input
        EXPECT_EQ(text_run.exit_status, 1);
        std::string entries;
        for (std::size_t i = 0; i + 2 < records.size(); ++i) {
            const JsonRecord& r = records[i];
            ASSERT_EQ(r.size(), 5u);
            EXPECT_EQ(r[0], "output");
            bool unpaired = r[3] == "no_matching_input" || r[3] == "multiple_matching_inputs";
            EXPECT_EQ(r[2], unpaired ? "" : r[1].substr(0, r[1].find('.')) + ".ape") << r[1];
            entries += entry(r[1], r[4] + "\n");
            outcomes.insert(r[3]);
        }
        EXPECT_EQ(reported(kBannerText + entries), text_run.output);
        EXPECT_EQ(snapshot(json.path), snapshot(text.path));
    }
    // Every one of the 14 words (json_records() knows no other), but for
    // cant_open_input where no input can be held from here.
    EXPECT_EQ(outcomes.size(), kPlatform.hold ? 14u : 13u);
    EXPECT_EQ(outcomes.contains("cant_open_input"), kPlatform.hold != nullptr);

    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kApeTag);
    const std::pair<std::vector<std::string>, std::vector<JsonRecord>> lines[] = {
        {{"--json", option("x"), "a", "b", "c"},
         {{"message", "illegal option: x !"},
          {"message", "too many file specifications, quote wildcards (e.g. '*.mp3') !"},
          {"summary", "2", "false"}}},
        {{"--json", "in.ape"}, {{"summary", "2", "false"}}},
        {{"*.wav", "--json", "*"}, {{"message", "no input files found!"}, {"summary", "1", "false"}}},
        {{option("n"), "in.ape", "nope", "--json"}, {{"message", "file nope.mp3 not found!"}, {"summary", "1", "true"}}}};
    for (const auto& [arguments, records] : lines) {
        ToolRun run = run_tool(folder.path, arguments);
        EXPECT_EQ(json_records(run.output), records) << arguments[1];
        EXPECT_EQ(run.exit_status, std::stoi(records.back()[1])) << arguments[1];
    }
}

// The inputs no output takes come after the outputs, one object each, and
// the summary counts them: beside the outputs, and over trees in the folders
// the output tree lacks too. A quiet report (-q) leaves out the outputs up
// to date or left alone; the summary counts every output.
TEST(JsonLines, UnusedInputsComeBeforeTheSummaryAndQuietLeavesOutWhatItDoesNotShow) {
    ScratchFolder library;
    for (const auto& [name, bytes] : Files{{"lossless/album/1.ape", kAudio + kApeTag},
                                           {"lossless/album/2.ape", kAudio + kId3Tag},
                                           {"lossless/new album/1.ape", kAudio + kApeTag},
                                           {"lossless/new album/cd2/3.ape", kAudio + kApeTag},
                                           {"lossy/album/0.mp3", kAudio},
                                           {"lossy/album/1.mp3", kAudio + kApeTag}}) {
        std::filesystem::create_directories((library / name).parent_path());
        write_file(library / name, bytes);
    }
    const JsonRecord no_input = {"output", with_separators("lossy/album/0.mp3"), "", "no_matching_input", "no matching input file!"};
    const JsonRecord up_to_date = {"output", with_separators("lossy/album/1.mp3"), with_separators("lossless/album/1.ape"),
                                   "up_to_date", "tag already up to date from " + with_separators("lossless/album/1.ape")};
    const JsonRecord unused_beside = {"unused_input", with_separators("lossless/album/2.ape")};
    const JsonRecord summary = {"summary", "1", "false"};
    const std::pair<std::vector<std::string>, std::vector<JsonRecord>> runs[] = {
        {{"--json", with_separators("lossless/album/*.ape"), with_separators("lossy/album/*.mp3")},
         {no_input, up_to_date, unused_beside, summary}},
        {{"--json", "-r", with_separators("lossless/*.ape"), with_separators("lossy/*.mp3")},
         {no_input, up_to_date, unused_beside, {"unused_input", with_separators("lossless/new album/1.ape")},
          {"unused_input", with_separators("lossless/new album/cd2/3.ape")}, summary}},
        {{"--json", option("q"), with_separators("lossless/album/*.ape"), with_separators("lossy/album/*.mp3")},
         {no_input, unused_beside, summary}},
        {{"--json", with_separators("lossless/album/1.ape"), with_separators("lossy/album/*.mp3")},  // one to many
         {{"output", with_separators("lossy/album/0.mp3"), with_separators("lossless/album/1.ape"), "appended",
           "appended tag from " + with_separators("lossless/album/1.ape")},
          up_to_date, {"summary", "0", "false"}}}};
    for (const auto& [arguments, records] : runs) {
        ToolRun run = run_tool(library.path, arguments);
        EXPECT_EQ(json_records(run.output, arguments[1] == option("q")), records) << arguments[1];
        EXPECT_EQ(run.exit_status, std::stoi(records.back()[1])) << arguments[1];
    }
}

}  // namespace
}  // namespace kestrane
