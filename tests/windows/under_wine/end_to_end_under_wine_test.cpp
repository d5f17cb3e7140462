// The Windows kestrane.exe run under wine, the way a Windows user runs it:
// Windows-form arguments and paths, '/' options, wildcards left to the tool.
// Every test compares the complete standard output (text mode, so each line
// ends in CR LF) and the bytes of the files afterwards.
//
// Wine maps drive Z: to the Linux root, so a scratch folder /tmp/x is
// Z:\tmp\x to the tool, and the folder a test runs in is its current
// directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <utility>

#include "support/run_tool.h"
#include "support/sample_files.h"

namespace kestrane {
namespace {

using namespace kestrane::testing;
namespace fs = std::filesystem;

// What a Windows program writes to redirected standard output for text.
std::string crlf(std::string_view text) {
    std::string lines;
    for (char c : text) {
        if (c == '\n') lines += '\r';
        lines += c;
    }
    return lines;
}

const std::string kBanner = kBannerText;
const std::string kUsage = kUsageText;

// The folder as the tool sees it: on drive Z:, with backslashes.
std::string windows_path(const fs::path& path) {
    std::string text = "Z:" + fs::absolute(path).string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// Runs the tool in the folder and gives its standard output as it came.
std::string report(const ScratchFolder& folder, const std::vector<std::string>& arguments) {
    ToolRun run = run_tool(folder.path, arguments);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.errors, "");
    return run.output;
}

std::string shell_quoted(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Sets Windows file attributes (letters r, h, s) through the Windows API,
// all in one wine process.
void set_attributes(const ScratchFolder& folder, const std::vector<std::pair<std::string, std::string>>& changes) {
    std::string command = "cd " + shell_quoted(folder.path.string()) + " && " + shell_quoted(KESTRANE_WINE) + " " +
                          shell_quoted(KESTRANE_SET_FILE_ATTRIBUTES_EXE);
    for (const auto& [letters, name] : changes) command += " " + letters + " " + shell_quoted(name);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Runs the tool with standard output on a terminal, which wine makes its
// console, and gives what the terminal received.
std::string console_report(const ScratchFolder& folder, const std::vector<std::string>& arguments) {
    std::string tool = shell_quoted(KESTRANE_EXE), shown;
    for (const std::string& argument : arguments) tool += " " + shell_quoted(argument);
    std::string command = "cd " + shell_quoted(folder.path.string()) + " && script -qec " + shell_quoted(tool) +
                          " /dev/null </dev/null";
    FILE* terminal = ::popen(command.c_str(), "r");
    for (int c; (c = std::fgetc(terminal)) != EOF;) shown += static_cast<char>(c);
    EXPECT_EQ(::pclose(terminal), 0);
    return shown;
}

TEST(CommandLine, SlashQuestionMarkPrintsTheHelpButNotAfterDoubleDash) {
    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kApeTag);
    write_file(folder / "out.mp3", kAudio);
    EXPECT_EQ(report(folder, {"/?"}), crlf(kBanner + kUsage));
    EXPECT_EQ(report(folder, {"in.ape", "/?", "out.mp3"}), crlf(kBanner + kUsage));
    EXPECT_EQ(report(folder, {"/?x", "in.ape", "out.mp3"}),
              crlf(kBanner + "illegal option: ? !\n\nillegal option: x !\n\n" + kUsage));
    EXPECT_EQ(read_file(folder / "out.mp3"), kAudio);
    // after "--" an argument starting with '/' is a file specification
    EXPECT_EQ(report(folder, {"/u", "--", "in.ape", "/?"}), crlf(kBanner + "no output files found!\n"));
}

TEST(CommandLine, OptionsStartWithSlashOrDashInEitherCase) {
    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kApeTag);
    write_file(folder / "tagged.mp3", kAudio + kOldId3);
    write_file(folder / "untagged.mp3", kAudio);
    EXPECT_EQ(report(folder, {"/a", "in.ape", "tagged"}),
              crlf(kBanner + entry("tagged.mp3", "file tagged.mp3 already has valid tag!\n")));
    EXPECT_EQ(report(folder, {"/U", "in.ape", "untagged.mp3"}),
              crlf(kBanner + entry("untagged.mp3", "file untagged.mp3 does not have a valid tag!\n")));
    EXPECT_EQ(read_file(folder / "tagged.mp3"), kAudio + kOldId3);
    EXPECT_EQ(read_file(folder / "untagged.mp3"), kAudio);
    // the last mode letter wins, wherever the options stand
    EXPECT_EQ(report(folder, {"in.ape", "/u", "untagged.mp3", "-A"}),
              crlf(kBanner + entry("untagged.mp3", "appended tag from in.ape\n")));
    EXPECT_EQ(read_file(folder / "untagged.mp3"), kAudio + kApeTag);
}

// Git Bash, MSYS2 and Cygwin expand unquoted wildcards before the tool
// starts, as POSIX shells do: a third specification is refused, once, in
// argument order among the illegal options, and no file is opened.
TEST(CommandLine, ShellExpandedWildcardsAreRefusedBeforeAnyFileIsOpened) {
    ScratchFolder folder;
    write_file(folder / "a.ape", kAudio + kId3Tag);
    write_file(folder / "b.ape", kAudio + kApeTag);
    write_file(folder / "a.mp3", kAudio + kOldApe);
    auto before = snapshot(folder.path);
    const std::string refused = "too many file specifications, quote wildcards (e.g. '*.mp3') !\n\n";
    EXPECT_EQ(report(folder, {"a.ape", "b.ape", "a.mp3"}), crlf(kBanner + refused + kUsage));
    EXPECT_EQ(report(folder, {"/x", "a.ape", "b.ape", "a.mp3", "/y", "*.wav"}),
              crlf(kBanner + "illegal option: x !\n\n" + refused + "illegal option: y !\n\n" + kUsage));
    EXPECT_EQ(snapshot(folder.path), before);
}

TEST(Batch, BackslashDirectoriesAndWildcardsPairByBaseName) {
    ScratchFolder folder;
    fs::create_directory(folder / "in");
    fs::create_directory(folder / "out");
    write_file(folder / "in" / "a.live.ape", kAudio + kApeTag);
    write_file(folder / "in" / "b.ape", kAudio + kId3Tag);
    write_file(folder / "in" / "c.ape", kAudio);
    write_file(folder / "out" / "a.mp3", kAudio + kOldId3);
    write_file(folder / "out" / "b.mp3", kAudio + kOldApe);
    write_file(folder / "out" / "c.mp3", kAudio);
    write_file(folder / "out" / "d.mp3", kAudio);
    auto before = snapshot(folder.path);

    EXPECT_EQ(report(folder, {"in\\*.ape", "out\\*.mp3"}),
              crlf(kBanner + entry("out\\a.mp3", "updated tag from in\\a.live.ape\n") +
                   entry("out\\b.mp3", "updated tag from in\\b.ape\n") +
                   entry("out\\c.mp3", "file in\\c.ape does not have valid tag!\n") +
                   entry("out\\d.mp3", "no matching input file!\n")));
    auto after = snapshot(folder.path);
    EXPECT_EQ(after["out/a.mp3"], kAudio + kApeTag);
    EXPECT_EQ(after["out/b.mp3"], kAudio + kId3Tag);
    EXPECT_EQ(after["out/c.mp3"], before["out/c.mp3"]);
    EXPECT_EQ(after["out/d.mp3"], before["out/d.mp3"]);

    // '/' separates directories too, and their part is kept in the paths
    EXPECT_EQ(report(folder, {"-u", "in/*.ape", "out/?.*"}),
              crlf(kBanner + entry("out/a.mp3", "tag already up to date from in/a.live.ape\n") +
                   entry("out/b.mp3", "tag already up to date from in/b.ape\n") +
                   entry("out/c.mp3", "file in/c.ape does not have valid tag!\n") +
                   entry("out/d.mp3", "no matching input file!\n")));
    EXPECT_EQ(snapshot(folder.path), after);
}

TEST(Batch, DriveLetterPathsKeepTheirDirectory) {
    ScratchFolder folder;
    fs::create_directory(folder / "in");
    fs::create_directory(folder / "out");
    write_file(folder / "in" / "song.ape", kAudio + kApeTag);
    write_file(folder / "in" / "other.ape", kAudio + kId3Tag);
    write_file(folder / "out" / "x.mp3", kAudio);
    write_file(folder / "out" / "y.mp3", kAudio + kOldApe);
    const std::string in = windows_path(folder / "in") + "\\";
    const std::string out = windows_path(folder / "out") + "\\";
    // one input serves every output whatever its name
    EXPECT_EQ(report(folder, {in + "song.ape", out + "*"}),
              crlf(kBanner + entry(out + "x.mp3", "appended tag from " + in + "song.ape\n") +
                   entry(out + "y.mp3", "updated tag from " + in + "song.ape\n")));
    EXPECT_EQ(read_file(folder / "out" / "x.mp3"), kAudio + kApeTag);
    EXPECT_EQ(read_file(folder / "out" / "y.mp3"), kAudio + kApeTag);
    // a drive with no directory: relative to that drive's current directory
    EXPECT_EQ(report(folder, {"Z:in\\other", "out\\y"}),
              crlf(kBanner + "file Z:in\\other.mp3 not found!\n"));
    write_file(folder / "top.mp3", kAudio);
    EXPECT_EQ(report(folder, {"Z:in\\other.ape", "Z:*"}),
              crlf(kBanner + entry("Z:top.mp3", "appended tag from Z:in\\other.ape\n")));
    EXPECT_EQ(read_file(folder / "top.mp3"), kAudio + kId3Tag);
}

TEST(Batch, NotFoundMessagesShowTheDefaultExtension) {
    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kApeTag);
    write_file(folder / "out.mp3", kAudio);
    EXPECT_EQ(report(folder, {"nosuch", "*.mp3"}), crlf(kBanner + "file nosuch.mp3 not found!\n"));
    EXPECT_EQ(report(folder, {"in.ape", "sub\\out"}), crlf(kBanner + "file sub\\out.mp3 not found!\n"));
    EXPECT_EQ(report(folder, {"missing\\*.ape", "*"}), crlf(kBanner + "no input files found!\n"));
    // the '?' of a typed \\?\ prefix is no wildcard
    const std::string verbatim = "\\\\?\\" + windows_path(folder.path) + "\\nope";
    EXPECT_EQ(report(folder, {"-n", verbatim + ".ape", "out.mp3"}),
              crlf(kBanner + "file " + verbatim + ".ape not found!\n"));
    EXPECT_EQ(report(folder, {"in.ape", verbatim}), crlf(kBanner + "file " + verbatim + ".mp3 not found!\n"));
    EXPECT_EQ(read_file(folder / "out.mp3"), kAudio);
}

TEST(Copy, TheSameFileAsInputAndOutputIsASharingViolation) {
    ScratchFolder folder;
    write_file(folder / "a.mp3", kAudio + kApeTag);
    write_file(folder / "b.mp3", kAudio);
    const std::string refused = "can't open output file, may be write protected!\n";
    EXPECT_EQ(report(folder, {"a.mp3", "*.mp3"}),
              crlf(kBanner + entry("a.mp3", refused) + entry("b.mp3", "appended tag from a.mp3\n")));
    // the listed name is the one on disk; the directory part is as typed
    std::string other_name = windows_path(folder.path) + "\\.\\A.MP3";
    EXPECT_EQ(report(folder, {"a.mp3", other_name}),
              crlf(kBanner + entry(windows_path(folder.path) + "\\.\\a.mp3", refused)));
    EXPECT_EQ(read_file(folder / "a.mp3"), kAudio + kApeTag);
    EXPECT_EQ(read_file(folder / "b.mp3"), kAudio + kApeTag);
}

TEST(Copy, ReadOnlyOutputsAreRefusedHiddenAndSystemOnesNotListed) {
    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kApeTag);
    for (const char* name : {"hidden.mp3", "plain.mp3", "readonly.mp3", "system.mp3", "both.mp3"}) {
        write_file(folder / name, kAudio + kOldId3);
    }
    set_attributes(folder, {{"r", "in.ape"},
                            {"h", "hidden.mp3"},
                            {"r", "readonly.mp3"},
                            {"s", "system.mp3"},
                            {"rh", "both.mp3"}});
    auto before = snapshot(folder.path);
    // A read-only input is fine. Wine running as root would open a
    // read-only output for writing; the tool refuses it as Windows does.
    EXPECT_EQ(report(folder, {"in.ape", "*.mp3"}),
              crlf(kBanner + entry("plain.mp3", "updated tag from in.ape\n") +
                   entry("readonly.mp3", "can't open output file, may be write protected!\n")));
    EXPECT_EQ(report(folder, {"in.ape", "hidden"}), crlf(kBanner + "file hidden.mp3 not found!\n"));
    auto after = snapshot(folder.path);
    EXPECT_EQ(after["plain.mp3"], kAudio + kApeTag);
    after["plain.mp3"] = before["plain.mp3"];
    EXPECT_EQ(after, before);
}

TEST(Listing, TheSystemMatchesWildcardsAndQuotedNamesStayWhole) {
    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kId3Tag);
    for (const char* name : {"a b.mp3", "Song [Live].MP3", "x.mp3x", "y.mp3.bak"}) write_file(folder / name, kAudio);
    fs::create_directory(folder / "dir.mp3");
    // Entries come in the system's order. "x.mp3x" has the short alias
    // X~....MP3, through which "*.mp3" matches it, as on a Windows volume
    // with short names (a volume without them would not list it).
    EXPECT_EQ(report(folder, {"in.ape", "*.mp3"}),
              crlf(kBanner + entry("a b.mp3", "appended tag from in.ape\n") +
                   entry("Song [Live].MP3", "appended tag from in.ape\n") +
                   entry("x.mp3x", "appended tag from in.ape\n")));
    EXPECT_EQ(report(folder, {"in.ape", "a b"}),
              crlf(kBanner + entry("a b.mp3", "tag already up to date from in.ape\n")));
    EXPECT_EQ(read_file(folder / "y.mp3.bak"), kAudio);
    EXPECT_EQ(read_file(folder / "a b.mp3"), kAudio + kId3Tag);
}

// Pairs in flight learn each file's identity through a handle that takes
// the file from no one, and pairs that share a file run in plan order:
// sixty outputs that are hard links of one file, a hard link of the input
// among them, then one output among the inputs, and writes that fail at a
// file-size limit give the same reports and bytes with one pair at a time
// and with eight in flight.
TEST(Copy, PairsInFlightChangeNoReportAndNoFile) {
    ScratchFolder folder;
    std::map<std::string, std::string> reports;
    std::map<std::string, std::map<std::string, Bytes>> files;
    for (const char* jobs : {"1", "8"}) {
        for (const auto& item : fs::directory_iterator(folder.path)) fs::remove(item.path());
        write_file(folder / "in.ape", kAudio + kApeTag);
        fs::create_hard_link(folder / "in.ape", folder / "in.mp3");
        write_file(folder / "o00.mp3", kAudio + kOldId3);
        for (int i = 1; i < 60; ++i) {
            fs::create_hard_link(folder / "o00.mp3", folder / ("o" + std::to_string(100 + i).substr(1) + ".mp3"));
        }
        ::setenv("KESTRANE_JOBS", jobs, 1);
        reports[jobs] = report(folder, {"in.ape", "*.mp3"});
        for (int i = 0; i < 30; ++i) {
            write_file(folder / ("p" + std::to_string(100 + i) + ".mp3"), audio(i % 2 ? 900 : 5000));
        }
        write_file(folder / "big.ape", kAudio + ape_tag({.item_bytes = 3000, .fill = 'B'}));
        reports[jobs] += report(folder, {"o00.mp3", "p*.mp3"});
        reports[jobs] += run_tool(folder.path, {"big.ape", "p*.mp3"}, {.file_size_limit = 4500}).output;
        ::unsetenv("KESTRANE_JOBS");
        files[jobs] = snapshot(folder.path);
    }
    EXPECT_EQ(reports["8"], reports["1"]);
    EXPECT_TRUE(files["8"] == files["1"]);
    for (const char* line : {"o00.mp3:\r\nupdated tag from in.ape", "o59.mp3:\r\ntag already up to date from in.ape",
                             "in.mp3:\r\ncan't open output file", "appended tag from o00.mp3", "error updating tag!",
                             "updated tag from big.ape"}) {
        EXPECT_NE(reports["1"].find(line), std::string::npos) << line;
    }
}

// Files past 4 GiB (sparse, so they take no room), in every mode: the tag
// is found and written at its 64-bit position, a small one and a 20 MiB one
// (cover art) over an old tag of 5 MiB, byte for byte.
TEST(Copy, FilesBeyondFourGibibytes) {
    constexpr std::uintmax_t kFront = (std::uintmax_t{1} << 32) + 1000;
    const Bytes cover = ape_tag({.item_bytes = 20 << 20, .fill = 'c'});
    const Bytes old_cover = ape_tag({.item_bytes = 5 << 20, .fill = 'o'});
    for (const auto& [tag, old_tag] : {std::pair{kApeTag, kOldId3}, std::pair{cover, old_cover}}) {
        for (std::string mode : {"", "/a", "/u"}) {
            ScratchFolder folder;
            write_file(folder / "in.ape", kAudio + tag);
            write_sparse_file(folder / "big1.mp3", kFront, old_tag);
            write_sparse_file(folder / "big2.mp3", kFront, {});
            bool updates = mode != "/a", appends = mode != "/u";
            std::vector<std::string> arguments = {"in.ape", "big*"};
            if (!mode.empty()) arguments.insert(arguments.begin(), mode);
            std::string big1 = updates ? "updated tag from in.ape\n" : "file big1.mp3 already has valid tag!\n";
            std::string big2 = appends ? "appended tag from in.ape\n" : "file big2.mp3 does not have a valid tag!\n";
            EXPECT_EQ(report(folder, arguments), crlf(kBanner + entry("big1.mp3", big1) + entry("big2.mp3", big2)))
                << mode;
            for (const auto& [name, now] :
                 {std::pair{"big1.mp3", updates ? tag : old_tag}, std::pair{"big2.mp3", appends ? tag : Bytes{}}}) {
                ASSERT_EQ(fs::file_size(folder / name), kFront + now.size()) << name << " " << mode;
                EXPECT_EQ(read_file_end(folder / name, now.size() + 8), Bytes(8, 0) + now) << name << " " << mode;
            }
        }
    }
}

// A lowered file-size limit (inherited by wine from the Linux side) makes
// the tag write fail partway; the output must come back exactly as it was.
TEST(Faults, AFailedWriteLeavesTheOutputAsItWas) {
    ScratchFolder folder;
    Bytes big_tag = ape_tag({.item_bytes = 6000, .fill = 'b'});
    write_file(folder / "in.ape", kAudio + big_tag);
    write_file(folder / "update.mp3", kAudio + kOldApe);
    write_file(folder / "append.mp3", kAudio);
    auto before = snapshot(folder.path);
    ToolRun run = run_tool(folder.path, {"in.ape", "*.mp3"}, {.file_size_limit = kAudio.size() + 1024});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output, crlf(kBanner + entry("append.mp3", "error appending tag!\n") +
                               entry("update.mp3", "error updating tag!\n")));
    EXPECT_EQ(snapshot(folder.path), before);
}

// A dry run reports exactly what the real run does, with "would" on the
// lines that place a tag, and changes no byte and no modification time.
TEST(DryRun, ReportsWhatARealRunWouldDoAndChangesNothing) {
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> modes = {
        {{}, {"/n"}}, {{"/a"}, {"-An"}}, {{"-u"}, {"/N", "/u"}}};
    for (const auto& [mode, dry_mode] : modes) {
        ScratchFolder real, dry;
        for (const ScratchFolder* folder : {&real, &dry}) {
            write_every_outcome_samples(*folder);
            // one file under three names: two outputs and a later pair's input
            fs::create_hard_link(*folder / "append.mp3", *folder / "append.x.mp3");
            fs::create_hard_link(*folder / "append.mp3", *folder / "zlate.ape");
            write_file(*folder / "zlate.mp3", kAudio);
            set_attributes(*folder, {{"r", "protected.mp3"}});
            age_files(*folder);
        }
        auto bytes_before = snapshot(dry.path);
        auto times_before = modification_times(dry);
        std::vector<std::string> real_arguments = mode, dry_arguments = dry_mode;
        for (auto* arguments : {&real_arguments, &dry_arguments}) arguments->insert(arguments->end(), {"*.ape", "*.mp3"});
        std::string real_report = report(real, real_arguments);
        EXPECT_NE(real_report.find("can't open output file"), std::string::npos);
        EXPECT_NE(snapshot(real.path), bytes_before) << dry_mode[0];
        EXPECT_EQ(report(dry, dry_arguments), as_dry_run(real_report)) << dry_mode[0];
        EXPECT_EQ(snapshot(dry.path), bytes_before) << dry_mode[0];
        EXPECT_EQ(modification_times(dry), times_before) << dry_mode[0];
    }
}

// Names in many scripts in every role: typed, listed, input, output, paired,
// folder part. Redirected, the report is in the ANSI code page (1252 in this
// prefix) with '?' for each character (UTF-16 unit) it lacks; on a console
// every name shows as it is.
TEST(Names, EveryScriptInEveryRole) {
    const std::vector<std::pair<std::string, std::string>> names = {  // as named, as reported; in listing order
        {"Beyoncé", "Beyonc\xE9"}, {"Cafe\u0301", "Cafe?"}, {"Sigur Rós", "Sigur R\xF3s"},
        {"Ελληνικά", "????????"}, {"Мумий Тролль", "????? ??????"}, {"東京", "??"}, {"🎵 Song", "?? Song"}};
    ScratchFolder folder;
    fs::create_directory(folder / "Музыка");
    std::map<std::string, Bytes> files;
    std::string many_to_many = kBanner, one_to_many = kBanner;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto& [name, reported] = names[i];
        files["Музыка/" + name + ".ape"] = kAudio + ape_tag({.fill = static_cast<std::uint8_t>('a' + i)});
        files[name + ".mp3"] = kAudio;
        many_to_many += entry(reported + ".mp3", "appended tag from ??????\\" + reported + ".ape\n");
        one_to_many += entry(reported + ".mp3", std::string(name == "🎵 Song" ? "tag already up to date" : "updated tag") +
                                                    " from ??????\\?? Song.ape\n");
    }
    for (const auto& [path, bytes] : files) write_file(folder / path, bytes);
    EXPECT_EQ(report(folder, {"Музыка\\*.ape", "*.mp3"}), crlf(many_to_many));
    for (const auto& [name, reported] : names) files[name + ".mp3"] = files["Музыка/" + name + ".ape"];
    EXPECT_EQ(snapshot(folder.path), files);

    EXPECT_EQ(report(folder, {"Музыка\\東京.ape", "Ελληνικά"}),
              crlf(kBanner + entry("????????.mp3", "updated tag from ??????\\??.ape\n")));
    files["Ελληνικά.mp3"] = files["Музыка/東京.ape"];
    EXPECT_EQ(snapshot(folder.path), files);
    std::string shown = console_report(folder, {"-n", "Музыка\\Мумий Тролль.ape", "東京"});
    EXPECT_NE(shown.find("東京.mp3:"), std::string::npos) << shown;
    EXPECT_NE(shown.find("would update tag from Музыка\\Мумий Тролль.ape"), std::string::npos) << shown;

    EXPECT_EQ(report(folder, {"Музыка\\🎵 Song.ape", "*"}), crlf(one_to_many));
    for (const auto& [name, reported] : names) files[name + ".mp3"] = files["Музыка/🎵 Song.ape"];
    EXPECT_EQ(snapshot(folder.path), files);
}

// A folder whose path, even from the current folder, is longer than the 260
// characters of the ANSI calls. (Wine, like Windows, won't start a program
// in a current folder that long.)
TEST(Names, PathsBeyondTheOldLengthLimit) {
    ScratchFolder folder;
    fs::path deep = folder.path;
    std::string relative;
    for (char disc = '1'; disc <= '5'; ++disc) {
        std::string part = std::string("Disc ") + disc + " of the Complete Studio Recordings (Remastered 2024) [Deluxe]";
        deep /= part;
        relative += (relative.empty() ? "" : "\\") + part;
    }
    fs::create_directories(deep);
    write_file(deep / "a.ape", kAudio + kApeTag);
    write_file(deep / "a.mp3", kAudio);
    write_file(deep / "b.mp3", kAudio + kOldId3);
    ASSERT_GT(relative.size(), 300u);
    EXPECT_EQ(report(folder, {relative + "\\a.ape", relative + "\\a"}),
              crlf(kBanner + entry(relative + "\\a.mp3", "appended tag from " + relative + "\\a.ape\n")));
    EXPECT_EQ(read_file(deep / "a.mp3"), kAudio + kApeTag);
    const std::string absolute = windows_path(deep) + "\\";
    write_file(deep / "a.ape", kAudio + kId3Tag);
    EXPECT_EQ(report(folder, {absolute + "a.ape", absolute + "*.mp3"}),
              crlf(kBanner + entry(absolute + "a.mp3", "updated tag from " + absolute + "a.ape\n") +
                   entry(absolute + "b.mp3", "updated tag from " + absolute + "a.ape\n")));
    EXPECT_EQ(read_file(deep / "a.mp3"), kAudio + kId3Tag);
    EXPECT_EQ(read_file(deep / "b.mp3"), kAudio + kId3Tag);
}

// Names ending in a dot or a space (made on other systems) beside hidden
// files named without it: the file listed is the one read or changed.
TEST(Names, ATrailingDotOrSpaceNamesItsOwnFile) {
    ScratchFolder folder;
    write_file(folder / "in.ape", kAudio + kId3Tag);
    write_file(folder / "in.ape.", kAudio + kApeTag);
    for (const char* name : {"b.mp3", "b.mp3.", "c.mp3", "c.mp3 "}) write_file(folder / name, kAudio);
    set_attributes(folder, {{"h", "in.ape"}, {"h", "b.mp3"}, {"h", "c.mp3"}});
    auto files = snapshot(folder.path);
    EXPECT_EQ(report(folder, {"*.ape", "*.mp3"}), crlf(kBanner + entry("b.mp3.", "appended tag from in.ape.\n") +
                                                       entry("c.mp3 ", "appended tag from in.ape.\n")));
    files["b.mp3."] = files["c.mp3 "] = kAudio + kApeTag;
    EXPECT_EQ(snapshot(folder.path), files);
}

// Under code page 932 a character's second byte may be '\' (ソ is 83 5C) or
// an ASCII letter (ア 83 41, ヂ 83 61). Run in a wine prefix of its own,
// made with a Japanese locale built for it.
TEST(Names, JapaneseSecondBytesAreNeitherSeparatorsNorLetters) {
    ScratchFolder wine_home;
    const std::string home = wine_home.path.string();
    std::vector<std::pair<const char*, std::string>> environment = {
        {"WINEPREFIX", home + "/prefix"}, {"LOCPATH", home}, {"LC_ALL", "ja_JP.UTF-8"}};
    for (auto& [name, value] : environment) {
        const char* outer = std::getenv(name);
        ::setenv(name, value.c_str(), 1);
        value = outer != nullptr ? outer : "";
    }
    const std::string make_prefix = "localedef -i ja_JP -f UTF-8 " + shell_quoted(home + "/ja_JP.UTF-8") +
                                    " && mkdir " + shell_quoted(home + "/prefix") +
                                    " && wineserver -p60 && wineboot -i </dev/null >/dev/null 2>&1";
    EXPECT_EQ(std::system(make_prefix.c_str()), 0) << make_prefix;
    ScratchFolder folder, pairs;
    for (const char* name : {"ソ.mp3", "ソソ.mp3"}) write_file(folder / name, kAudio);
    write_file(folder / "ソ.ape", kAudio + kApeTag);
    write_file(folder / "ソソ.ape", kAudio + kId3Tag);
    EXPECT_EQ(report(folder, {"ソ.ape", "ソ.mp3"}),
              crlf(kBanner + entry("\x83\x5C.mp3", "appended tag from \x83\x5C.ape\n")));
    for (const char* name : {"ア.mp3", "ヂ.mp3"}) write_file(pairs / name, kAudio);
    write_file(pairs / "ア.ape", kAudio + kApeTag);
    write_file(pairs / "z.ape", kAudio + kId3Tag);
    EXPECT_EQ(report(pairs, {"*.ape", "*.mp3"}),
              crlf(kBanner + entry("\x83\x41.mp3", "appended tag from \x83\x41.ape\n") +
                   entry("\x83\x61.mp3", "no matching input file!\n")));
    EXPECT_EQ(std::system("wineserver -k"), 0);
    for (const auto& [name, outer] : environment) {
        if (outer.empty()) ::unsetenv(name); else ::setenv(name, outer.c_str(), 1);
    }
    EXPECT_EQ(read_file(folder / "ソ.mp3"), kAudio + kApeTag);
    EXPECT_EQ(read_file(folder / "ソソ.mp3"), kAudio);
    EXPECT_EQ(read_file(pairs / "ア.mp3"), kAudio + kApeTag);
    EXPECT_EQ(read_file(pairs / "ヂ.mp3"), kAudio);
}

}  // namespace
}  // namespace kestrane
