// The built executable run in scratch folders: its complete standard output
// and the bytes of every file afterwards.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "support/run_tool.h"
#include "support/sample_files.h"

namespace kestrane {
namespace {

using namespace kestrane::testing;
namespace fs = std::filesystem;

const std::size_t kMaxItemBytes = 0x10000000 - 1 - 32;  // the largest tag the tool accepts

TEST(CommandLine, WithoutTwoSpecificationsPrintsTheUsage) {
    ScratchFolder folder;
    EXPECT_EQ(run_in(folder, {}).output, std::string(kBannerText) + kUsageText);
    EXPECT_EQ(run_in(folder, {"only.mp3"}).output, std::string(kBannerText) + kUsageText);
    EXPECT_EQ(run_in(folder, {"-a", "-", "in.mp3"}).output, std::string(kBannerText) + kUsageText);
}

TEST(CommandLine, HelpPrintsTheBannerAndUsageAloneWhateverElseStandsBeforeDoubleDash) {
    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kApeTag);
    write_file(folder / "out.mp3", kAudio);
    for (std::vector<std::string> arguments : {std::vector<std::string>{"--help"}, {"-x", "in.ape", "out.mp3", "--help"},
                                               {"in.ape", "--help", "out.mp3", "extra"}}) {
        EXPECT_EQ(run_in(folder, arguments).output, std::string(kBannerText) + kUsageText) << arguments[0];
    }
    EXPECT_EQ(read_file(folder / "out.mp3"), kAudio);
    // only the exact word: anything else is a group of option letters
    EXPECT_EQ(run_in(folder, {"--helpx", "in.ape", "out.mp3"}).output,
              std::string(kBannerText) + "illegal option: - !\n\nillegal option: h !\n\nillegal option: e !\n\n" +
                  "illegal option: l !\n\nillegal option: p !\n\nillegal option: x !\n\n" + kUsageText);
    // "--" ends the options: every later argument is a file specification, "--help" and "-x" too
    write_file(folder / "-x.ape", kAudio + kApeTag);
    write_file(folder / "--help.mp3", kAudio);
    EXPECT_EQ(run_in(folder, {"-u", "--", "-x.ape", "--help"}).output,
              kBannerText + entry("--help.mp3", "file --help.mp3 does not have a valid tag!\n"));
    EXPECT_EQ(run_in(folder, {"--", "-x.ape", "--help"}).output,
              kBannerText + entry("--help.mp3", "appended tag from -x.ape\n"));
    EXPECT_EQ(read_file(folder / "--help.mp3"), kAudio + kApeTag);
}

TEST(CommandLine, VersionPrintsTheVersionAlone) {
    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kApeTag);
    write_file(folder / "out.mp3", kAudio);
    EXPECT_EQ(run_in(folder, {"--version"}).output, "kestrane " KESTRANE_VERSION "\n");
    EXPECT_EQ(run_in(folder, {"in.ape", "out.mp3", "--version"}).output, "kestrane " KESTRANE_VERSION "\n");
    EXPECT_EQ(read_file(folder / "out.mp3"), kAudio);
}

TEST(CommandLine, IllegalOptionsAreAllReportedThenTheUsage) {
    ScratchFolder folder;
    write_file(folder / "a.mp3", kAudio + kApeTag);
    write_file(folder / "b.mp3", kAudio);
    auto before = snapshot(folder.path);
    EXPECT_EQ(run_in(folder, {"-x", "a.mp3", "b.mp3"}).output,
              std::string(kBannerText) + "illegal option: x !\n\n" + kUsageText);
    EXPECT_EQ(run_in(folder, {"-a?Z", "a", "b", "-q"}).output,
              std::string(kBannerText) + "illegal option: ? !\n\nillegal option: Z !\n\n" +
                  "illegal option: q !\n\n" + kUsageText);
    EXPECT_EQ(snapshot(folder.path), before);
}

TEST(CommandLine, ShellExpandedWildcardsAreRefusedBeforeAnyFileIsOpened) {
    ScratchFolder folder;
    write_file(folder / "a.mp3", kAudio + kApeTag);
    write_file(folder / "b.mp3", kAudio);
    write_file(folder / "c.mp3", kAudio);
    auto before = snapshot(folder.path);
    for (std::vector<std::string> arguments : {std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3"},
                                               {"a.mp3", "b.mp3", "c.mp3", "d.mp3"}}) {
        EXPECT_EQ(run_in(folder, arguments).output,
                  std::string(kBannerText) + "too many file specifications, quote wildcards (e.g. '*.mp3') !\n\n" +
                      kUsageText)
            << arguments.size();
    }
    EXPECT_EQ(snapshot(folder.path), before);
}

TEST(CommandLine, TheLastModeLetterWinsWhereverOptionsStand) {
    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kApeTag);
    write_file(folder / "out.mp3", kAudio);
    std::string update_only_refusal = entry("out.mp3", "file out.mp3 does not have a valid tag!\n");
    EXPECT_EQ(run_in(folder, {"-a", "-u", "in.ape", "out"}).output, kBannerText + update_only_refusal);
    EXPECT_EQ(run_in(folder, {"-au", "in.ape", "out"}).output, kBannerText + update_only_refusal);
    EXPECT_EQ(read_file(folder / "out.mp3"), kAudio);
    EXPECT_EQ(run_in(folder, {"-ua", "in.ape", "-", "out"}).output,
              kBannerText + entry("out.mp3", "appended tag from in.ape\n"));
    EXPECT_EQ(run_in(folder, {"in.ape", "out", "-a"}).output,
              kBannerText + entry("out.mp3", "file out.mp3 already has valid tag!\n"));
    EXPECT_EQ(read_file(folder / "out.mp3"), kAudio + kApeTag);
}

// A folder in which a many-to-many run meets every outcome there is: the
// shared samples, a write-protected output, files locked as another run
// would hold them ("held"), and files met again under other names after
// the run has changed them: a hard link and a symbolic link of an output,
// and a hard link of it that is a later pair's input.
void make_every_outcome(const ScratchFolder& folder) {
    write_every_outcome_samples(folder);
    fs::create_hard_link(folder / "append.mp3", folder / "append.x.mp3");
    fs::create_symlink("append.mp3", folder / "append.y.mp3");
    fs::create_hard_link(folder / "append.mp3", folder / "zlate.ape");
    write_file(folder / "zlate.mp3", kAudio);
    fs::permissions(folder / "protected.mp3", fs::perms::owner_read);
    write_file(folder / "heldin.ape", kAudio + kApeTag);
    write_file(folder / "heldin.mp3", kAudio);
    write_file(folder / "heldout.ape", kAudio + kApeTag);
    write_file(folder / "heldout.mp3", kAudio);
    age_files(folder);
}

TEST(DryRun, ReportsWhatARealRunWouldDoAndChangesNothing) {
    // Each mode with its dry run, and what its real run must report among the rest.
    struct Case {
        std::vector<std::string> mode, dry_mode;
        std::vector<std::string> expected_lines;
    };
    const std::vector<Case> cases = {
        {{}, {"-n"},
         {"updated tag from update.ape", "appended tag from append.ape", "file bare.ape does not have valid tag!",
          "append.x.mp3:\ntag already up to date from append.ape", "zlate.mp3:\nappended tag from zlate.ape",
          "no matching input file!", "multiple matching input files!", "can't open input file heldin.ape!",
          "can't open output file, may be write protected!"}},
        {{"-a"}, {"-an"},
         {"file update.mp3 already has valid tag!", "appended tag from append.ape",
          "file append.y.mp3 already has valid tag!"}},
        {{"-u"}, {"-N", "-u"}, {"updated tag from update.ape", "file append.mp3 does not have a valid tag!"}},
    };
    for (const Case& c : cases) {
        ScratchFolder real, dry;
        make_every_outcome(real);
        make_every_outcome(dry);
        std::vector<int> locks;
        for (const ScratchFolder* folder : {&real, &dry}) {
            for (const char* held : {"heldin.ape", "heldout.mp3"}) {
                locks.push_back(::open((*folder / held).c_str(), O_RDONLY));
                ASSERT_EQ(::flock(locks.back(), LOCK_EX), 0);
            }
        }
        auto bytes_before = snapshot(dry.path);
        auto times_before = modification_times(dry);
        std::vector<std::string> real_arguments = c.mode, dry_arguments = c.dry_mode;
        for (auto* arguments : {&real_arguments, &dry_arguments}) {
            arguments->insert(arguments->end(), {"*.ape", "*.mp3"});
        }
        ToolRun real_run = run_in(real, real_arguments);
        ToolRun dry_run = run_in(dry, dry_arguments);
        for (int fd : locks) ::close(fd);

        for (const std::string& line : c.expected_lines) {
            EXPECT_NE(real_run.output.find("\n" + line + "\n"), std::string::npos) << line;
        }
        EXPECT_NE(snapshot(real.path), bytes_before) << c.dry_mode[0];
        EXPECT_EQ(dry_run.output, as_dry_run(real_run.output)) << c.dry_mode[0];
        EXPECT_EQ(snapshot(dry.path), bytes_before) << c.dry_mode[0];
        EXPECT_EQ(modification_times(dry), times_before) << c.dry_mode[0];
    }
}

TEST(Batch, ManyToManyPairsByBaseNameAndReportsEveryOutput) {
    ScratchFolder folder;
    write_file(folder / "a.live.ape", kAudio + kApeTag);
    write_file(folder / "b.ape", kAudio + kId3Tag);
    write_file(folder / "c.ape", kAudio);
    write_file(folder / "A.mp3", kAudio + kOldId3);
    write_file(folder / "b.mp3", kAudio + kOldApe);
    write_file(folder / "c.mp3", kAudio);
    write_file(folder / "d.mp3", kAudio);
    write_file(folder / "e.mp3", kAudio + kOldApe + kOldId3);
    write_file(folder / "e.ape", kAudio + kApeTag);
    auto before = snapshot(folder.path);

    ToolRun run = run_in(folder, {"*.ape", "*.mp3"});
    EXPECT_EQ(run.output, kBannerText + entry("A.mp3", "updated tag from a.live.ape\n") +
                              entry("b.mp3", "updated tag from b.ape\n") +
                              entry("c.mp3", "file c.ape does not have valid tag!\n") +
                              entry("d.mp3", "no matching input file!\n") +
                              entry("e.mp3", "updated tag from e.ape\n"));
    auto after = snapshot(folder.path);
    // APEv2 over ID3v1: the file shrinks or grows by the difference
    EXPECT_EQ(after["A.mp3"], kAudio + kApeTag);
    // ID3v1 over a long APEv2 tag: cut after the 128 bytes
    EXPECT_EQ(after["b.mp3"], kAudio + kId3Tag);
    EXPECT_EQ(after["c.mp3"], before["c.mp3"]);
    EXPECT_EQ(after["d.mp3"], before["d.mp3"]);
    // only the trailing ID3v1 tag is replaced
    EXPECT_EQ(after["e.mp3"], kAudio + kOldApe + kApeTag);
    for (const char* input : {"a.live.ape", "b.ape", "c.ape", "e.ape"}) EXPECT_EQ(after[input], before[input]);

    // A second run finds the tags just written in place.
    EXPECT_EQ(run_in(folder, {"*.ape", "*.mp3", "-u"}).output,
              kBannerText + entry("A.mp3", "tag already up to date from a.live.ape\n") +
                  entry("b.mp3", "tag already up to date from b.ape\n") +
                  entry("c.mp3", "file c.ape does not have valid tag!\n") +
                  entry("d.mp3", "no matching input file!\n") + entry("e.mp3", "tag already up to date from e.ape\n"));
    EXPECT_EQ(snapshot(folder.path), after);
}

TEST(Batch, OneInputServesEveryOutputWhateverItsName) {
    ScratchFolder folder;
    write_file(folder / "song.ape", kAudio + kApeTag);
    write_file(folder / "x.mp3", kAudio);
    write_file(folder / "y.MP3", kAudio + kOldId3);
    std::string expected = kBannerText + entry("x.mp3", "appended tag from song.ape\n") +
                           entry("y.MP3", "updated tag from song.ape\n");
    EXPECT_EQ(run_in(folder, {"song.ape", "*.mp3"}).output, expected);
    EXPECT_EQ(read_file(folder / "x.mp3"), kAudio + kApeTag);
    EXPECT_EQ(read_file(folder / "y.MP3"), kAudio + kApeTag);
    // a wildcard that matches a single input behaves the same
    write_file(folder / "x.mp3", kAudio);
    EXPECT_EQ(run_in(folder, {"*.ape", "*"}).output, kBannerText + entry("x.mp3", "appended tag from song.ape\n") +
                                                          entry("y.MP3", "tag already up to date from song.ape\n"));
}

TEST(Batch, TwoInputsWithOneBaseNameAreAmbiguous) {
    ScratchFolder folder;
    fs::create_directory(folder / "in");
    write_file(folder / "in" / "a.ape", kAudio + kApeTag);
    write_file(folder / "in" / "a.flac", kAudio + kId3Tag);
    write_file(folder / "a.mp3", kAudio);
    EXPECT_EQ(run_in(folder, {"in/a.*", "a.mp3"}).output,
              kBannerText + entry("a.mp3", "multiple matching input files!\n"));
    EXPECT_EQ(read_file(folder / "a.mp3"), kAudio);
}

TEST(Batch, PathsKeepEachSpecificationsDirectory) {
    ScratchFolder folder;
    fs::create_directories(folder / "in");
    fs::create_directories(folder / "out.d");
    write_file(folder / "in" / "t1.ape", kAudio + kApeTag);
    write_file(folder / "in" / "t2.ape", kAudio + kId3Tag);
    write_file(folder / "out.d" / "t1.mp3", kAudio);
    write_file(folder / "out.d" / "t2.mp3", kAudio);
    EXPECT_EQ(run_in(folder, {"in/*.ape", "out.d/*"}).output,
              kBannerText + entry("out.d/t1.mp3", "appended tag from in/t1.ape\n") +
                  entry("out.d/t2.mp3", "appended tag from in/t2.ape\n"));
    // absolute paths start with '/', which is no option on POSIX
    std::string absolute = (folder / "out.d").string() + "/t1.mp3";
    EXPECT_EQ(run_in(folder, {(folder / "in" / "t2.ape").string(), absolute}).output,
              kBannerText + entry(absolute, "updated tag from " + (folder / "in" / "t2.ape").string() + "\n"));
    EXPECT_EQ(read_file(folder / "out.d" / "t1.mp3"), kAudio + kId3Tag);
}

TEST(Batch, NothingFoundIsReportedOnce) {
    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kApeTag);
    EXPECT_EQ(run_in(folder, {"x.mp3", "*.mp3"}).output, std::string(kBannerText) + "file x.mp3 not found!\n");
    EXPECT_EQ(run_in(folder, {"nosuch", "*.mp3"}).output, std::string(kBannerText) + "file nosuch.mp3 not found!\n");
    EXPECT_EQ(run_in(folder, {"*.wav", "*.ogg"}).output, std::string(kBannerText) + "no input files found!\n");
    EXPECT_EQ(run_in(folder, {"in.ape", "*.ogg"}).output, std::string(kBannerText) + "no output files found!\n");
    EXPECT_EQ(run_in(folder, {"in.ape", "out"}).output, std::string(kBannerText) + "file out.mp3 not found!\n");
    EXPECT_EQ(run_in(folder, {"missing/*.ape", "*.mp3"}).output, std::string(kBannerText) + "no input files found!\n");
}

TEST(Copy, RefusalsLeaveBothFilesUntouched) {
    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kApeTag);
    write_file(folder / "bare.ape", kAudio);
    write_file(folder / "tagged.mp3", kAudio + kOldApe);
    write_file(folder / "untagged.mp3", kAudio);
    auto before = snapshot(folder.path);
    EXPECT_EQ(run_in(folder, {"-a", "in.ape", "tagged.mp3"}).output,
              kBannerText + entry("tagged.mp3", "file tagged.mp3 already has valid tag!\n"));
    EXPECT_EQ(run_in(folder, {"-u", "in.ape", "untagged"}).output,
              kBannerText + entry("untagged.mp3", "file untagged.mp3 does not have a valid tag!\n"));
    EXPECT_EQ(run_in(folder, {"bare.ape", "tagged.mp3"}).output,
              kBannerText + entry("tagged.mp3", "file bare.ape does not have valid tag!\n"));
    EXPECT_EQ(snapshot(folder.path), before);
}

TEST(Copy, TheSameFileUnderTwoNamesIsNeverBothInputAndOutput) {
    ScratchFolder folder;
    write_file(folder / "a.mp3", kAudio + kApeTag);
    fs::create_hard_link(folder / "a.mp3", folder / "hard.mp3");
    fs::create_symlink("a.mp3", folder / "soft.mp3");
    Bytes before = read_file(folder / "a.mp3");
    const std::string refused = "can't open output file, may be write protected!\n";
    for (std::string other : {"a.mp3", "./a.mp3", "A.MP3", "hard.mp3", "soft.mp3"}) {
        ToolRun run = run_in(folder, {"a.mp3", other});
        std::string heading = other == "A.MP3" ? "a.mp3" : other;
        EXPECT_EQ(run.output, kBannerText + entry(heading, refused)) << other;
    }
    EXPECT_EQ(read_file(folder / "a.mp3"), before);
}

TEST(Copy, WriteProtectedOutputsAreRefusedEvenForRoot) {
    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kApeTag);
    write_file(folder / "locked.mp3", kAudio);
    fs::permissions(folder / "locked.mp3", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(run_in(folder, {"in.ape", "locked.mp3"}).output,
              kBannerText + entry("locked.mp3", "can't open output file, may be write protected!\n"));
    EXPECT_EQ(read_file(folder / "locked.mp3"), kAudio);
    // Any one write bit is enough: root writes a file only its group may write.
    write_file(folder / "group.mp3", kAudio);
    fs::permissions(folder / "group.mp3", fs::perms::owner_read | fs::perms::group_read | fs::perms::group_write |
                                              fs::perms::others_read);
    EXPECT_EQ(run_in(folder, {"in.ape", "group.mp3"}).output,
              kBannerText + entry("group.mp3", ::geteuid() == 0 ? "appended tag from in.ape\n"
                                                                : "can't open output file, may be write protected!\n"));
    // read-only inputs are fine
    fs::permissions(folder / "in.ape", fs::perms::owner_read);
    write_file(folder / "open.mp3", kAudio);
    EXPECT_EQ(run_in(folder, {"in.ape", "open.mp3"}).output,
              kBannerText + entry("open.mp3", "appended tag from in.ape\n"));
}

TEST(Copy, HeaderlessApeTagsAreCopiedAndReplacedExactly) {
    ScratchFolder folder;
    Bytes headerless = ape_tag({.item_bytes = 70, .header = false, .fill = 'h'});
    Bytes old_headerless = ape_tag({.item_bytes = 300, .header = false, .fill = 'o'});
    write_file(folder / "a.ape", kAudio + headerless);
    write_file(folder / "a.mp3", kAudio + old_headerless);
    write_file(folder / "b.ape", kAudio + kApeTag);
    write_file(folder / "b.mp3", kAudio + old_headerless);
    EXPECT_EQ(run_in(folder, {"*.ape", "*.mp3"}).output,
              kBannerText + entry("a.mp3", "updated tag from a.ape\n") + entry("b.mp3", "updated tag from b.ape\n"));
    EXPECT_EQ(read_file(folder / "a.mp3"), kAudio + headerless);
    EXPECT_EQ(read_file(folder / "b.mp3"), kAudio + kApeTag);
}

TEST(Listing, MatchesNamesAsAWindowsUserExpects) {
    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kId3Tag);
    for (const char* name : {"Song [Live].mp3", "b.MP3", "a b.mp3", ".hidden.mp3", "a.mp3.bak", "x.mp3x",
                             "caf\xc3\xa9.mp3"}) {
        write_file(folder / name, kAudio);
    }
    fs::create_directory(folder / "dir.mp3");
    fs::create_symlink("in.ape", folder / "link.mp3");
    fs::create_symlink("nowhere", folder / "dangling.mp3");
    ToolRun run = run_in(folder, {"in.ape", "*.mp3"});
    // sorted by bytes; the symlink to a regular file counts (and is the input itself)
    EXPECT_EQ(run.output, kBannerText + entry("Song [Live].mp3", "appended tag from in.ape\n") +
                              entry("a b.mp3", "appended tag from in.ape\n") +
                              entry("b.MP3", "appended tag from in.ape\n") +
                              entry("caf\xc3\xa9.mp3", "appended tag from in.ape\n") +
                              entry("link.mp3", "can't open output file, may be write protected!\n"));
    EXPECT_EQ(read_file(folder / ".hidden.mp3"), kAudio);
    EXPECT_EQ(run_in(folder, {"in.ape", "Song [Live]"}).output,
              kBannerText + entry("Song [Live].mp3", "tag already up to date from in.ape\n"));
    EXPECT_EQ(run_in(folder, {"in.ape", "?.mp3"}).output,
              kBannerText + entry("b.MP3", "tag already up to date from in.ape\n"));
}

// Names differing only in case can coexist here: a plain name means the
// entry of exactly that name, and a file of another case only when there is
// no such entry. An entry of that name that is no regular file (a dangling
// link, a folder, a FIFO) is not found; its case variants are never taken.
TEST(Listing, APlainNameIsTheFileOfExactlyThatNameWhenThereIsOne) {
    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kApeTag);
    write_file(folder / "IN.APE", kAudio + kId3Tag);
    for (const char* name : {"a.mp3", "A.MP3", "B.MP3", "C.MP3", "D.MP3", "E.MP3", "F.APE"}) {
        write_file(folder / name, kAudio);
    }
    fs::create_symlink("nowhere", folder / "c.mp3");
    fs::create_directory(folder / "d.mp3");
    ASSERT_EQ(::mkfifo((folder / "e.mp3").c_str(), 0644), 0);
    fs::create_symlink("nowhere", folder / "f.ape");
    auto untouched = snapshot(folder.path);
    EXPECT_EQ(run_in(folder, {"in.ape", "a.mp3"}).output, kBannerText + entry("a.mp3", "appended tag from in.ape\n"));
    EXPECT_EQ(run_in(folder, {"IN.APE", "b.mp3"}).output, kBannerText + entry("B.MP3", "appended tag from IN.APE\n"));
    for (const char* name : {"c.mp3", "d.mp3", "e.mp3"}) {
        EXPECT_EQ(run_in(folder, {"in.ape", name}).output, std::string(kBannerText) + "file " + name + " not found!\n");
    }
    EXPECT_EQ(run_in(folder, {"f.ape", "a.mp3"}).output, std::string(kBannerText) + "file f.ape not found!\n");
    untouched["a.mp3"] = kAudio + kApeTag;
    untouched["B.MP3"] = kAudio + kId3Tag;
    EXPECT_EQ(snapshot(folder.path), untouched);
}

// Files past 4 GiB (sparse, so they take no room) work like any other: only
// their ends are read and written, at 64-bit positions.
TEST(Copy, FilesBeyondFourGibibytes) {
    ScratchFolder folder;
    const std::uintmax_t front = (std::uintmax_t{1} << 32) + 1000;
    write_file(folder / "in.ape", kAudio + kApeTag);
    write_sparse_file(folder / "big1.mp3", front, kOldApe);
    write_sparse_file(folder / "big2.mp3", front, {});
    EXPECT_EQ(run_in(folder, {"in.ape", "big*"}).output, kBannerText + entry("big1.mp3", "updated tag from in.ape\n") +
                                                             entry("big2.mp3", "appended tag from in.ape\n"));
    for (const char* name : {"big1.mp3", "big2.mp3"}) {
        EXPECT_EQ(fs::file_size(folder / name), front + kApeTag.size()) << name;
        EXPECT_EQ(read_file_end(folder / name, kApeTag.size() + 8), Bytes(8, 0) + kApeTag) << name;
    }
}

// A lowered file-size limit makes the tag write fail partway; the output
// must come back exactly as it was. The 20 MiB tag overwrites all of
// cover.mp3's 5 MiB one before it fails, so its undo puts back every byte.
TEST(Faults, AFailedWriteLeavesTheOutputAsItWas) {
    ScratchFolder folder;
    Bytes big_tag = ape_tag({.item_bytes = 20 << 20, .fill = 'b'});
    Bytes old_cover = ape_tag({.item_bytes = 5 << 20, .fill = 'c'});
    write_file(folder / "in.ape", kAudio + big_tag);
    write_file(folder / "append.mp3", kAudio);
    write_file(folder / "cover.mp3", kAudio + old_cover);
    write_file(folder / "update.mp3", kAudio + kOldApe);
    auto before = snapshot(folder.path);
    RunOptions limited{.file_size_limit = kAudio.size() + old_cover.size() + 1024};
    ToolRun run = run_tool(folder.path, {"in.ape", "*.mp3"}, limited);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output, kBannerText + entry("append.mp3", "error appending tag!\n") +
                              entry("cover.mp3", "error updating tag!\n") +
                              entry("update.mp3", "error updating tag!\n"));
    EXPECT_EQ(snapshot(folder.path), before);
}

// Running out of memory ends the run with a message, not a crash. The
// memory limit is set just above what a run with a small tag needs, so
// loading a tag of almost 256 MiB (zeros, sparse on disk) cannot fit.
TEST(Faults, RunningOutOfMemoryEndsTheRunWithAMessage) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve far more address space than any limit set here";
#else
    ScratchFolder folder;
    write_file(folder / "small.ape", kAudio + kApeTag);
    write_file(folder / "big.ape", kAudio + zero_filled_ape_tag(kMaxItemBytes));
    write_file(folder / "out.mp3", kAudio);
    const std::uint64_t step = 256 * 1024;
    std::uint64_t limit = 0;
    for (std::uint64_t candidate = 2 * 1024 * 1024; candidate < 256 * 1024 * 1024; candidate += step) {
        ToolRun run = run_tool(folder.path, {"small.ape", "out.mp3"}, {.address_space_limit = candidate});
        if (run.output.find("appended tag from small.ape") != std::string::npos) {
            limit = candidate;
            break;
        }
    }
    ASSERT_NE(limit, 0u) << "no memory limit let a small run finish";
    write_file(folder / "out.mp3", kAudio);
    ToolRun run = run_tool(folder.path, {"big.ape", "out.mp3"}, {.address_space_limit = limit});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output, kBannerText + entry("out.mp3", "out of memory!\n"));
    EXPECT_EQ(read_file(folder / "out.mp3"), kAudio);
#endif
}

}  // namespace
}  // namespace kestrane
