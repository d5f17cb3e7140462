// The Windows kestrane.exe under wine where it differs from the POSIX tool:
// drive letters, \\?\ paths, hidden and system files, short names, the
// system's listing order, pairs in flight and file sharing, names in many
// scripts and code pages; and the platform profile the shared cases
// (tests/end_to_end_test.cpp) run with: Windows-form paths, '/' options,
// the report in text mode (each line ends in CR LF).
//
// Wine maps drive Z: to the Linux root, so a scratch folder /tmp/x is
// Z:\tmp\x to the tool, and the folder a test runs in is its current
// directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include "support/end_to_end_case.h"
#include "support/run_tool.h"
#include "support/sample_files.h"

namespace kestrane {
namespace fs = std::filesystem;
using namespace kestrane::testing;

namespace {

std::string shell_quoted(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The folder as the tool sees it: on drive Z:, with backslashes.
std::string windows_path(const fs::path& path) {
    std::string text = "Z:" + fs::absolute(path).string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
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

// Runs the tool on a pseudo-terminal 80 columns wide, which wine makes its
// console, held up as a terminal the user stopped with Ctrl-S: as soon as
// the console has written to it, it is filled up with '#' and read only 0.7 s
// later. Gives what the console wrote, without the '#'.
std::string held_console_report(const ScratchFolder& folder, const std::vector<std::string>& arguments) {
    int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_TRUE(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    ::ioctl(terminal, TIOCSWINSZ, &size);
    std::string name = ::ptsname(terminal);
    std::vector<std::string> words = {tool_path()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        int tool_side = ::open(name.c_str(), O_RDWR);  // the controlling terminal, as in a shell
        for (int standard = 0; standard < 3; ++standard) ::dup2(tool_side, standard);
        if (::chdir(folder.path.c_str()) != 0) ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    std::string shown;
    char buffer[4096];
    ssize_t got = ::read(terminal, buffer, sizeof buffer);
    if (got > 0) shown.append(buffer, static_cast<std::size_t>(got));
    int filler = ::open(name.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    const std::string block(256, '#');
    // To the last byte of room, also once the system has moved what it can
    // to the reader's side.
    for (bool wrote = true; wrote; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        wrote = false;
        for (std::size_t size : {block.size(), std::size_t{1}}) {
            while (::write(filler, block.data(), size) > 0) wrote = true;
        }
    }
    ::close(filler);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    while ((got = ::read(terminal, buffer, sizeof buffer)) > 0) shown.append(buffer, static_cast<std::size_t>(got));
    ::close(terminal);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << status;
    std::erase(shown, '#');
    return shown;
}

}  // namespace

namespace testing {

// Wine running as root would open a read-only output for writing; the tool
// refuses it as Windows does. The tool does not see a lock a Linux process
// takes, so no file is held here; another name of a file is a hard link.
const PlatformProfile kPlatform = {
    .line_end = "\r\n",
    .separators = "\\/",
    .option = '/',
    .absolute = windows_path,
    .write_protect =
        [](const ScratchFolder& folder, const std::vector<std::string>& names) {
            std::vector<std::pair<std::string, std::string>> changes;
            for (const std::string& name : names) changes.emplace_back("r", name);
            set_attributes(folder, changes);
        },
    .hide = [](const ScratchFolder& folder, const std::string& name) { set_attributes(folder, {{"h", name}}); },
    .another_name = [](const fs::path& file, const fs::path& name) { fs::create_hard_link(file, name); },
    .hold = nullptr,
};

}  // namespace testing

namespace {

// A drive with no folder: relative to that drive's current folder. The '?'
// of a typed \\?\ prefix is no wildcard.
TEST(Batch, DriveLetterAndVerbatimPathsKeepTheirDirectory) {
    check({.files = {{"in/other.ape", kAudio + kId3Tag}, {"top.mp3", kAudio}},
           .runs = {{{"Z:in\\other", "top"}, "file Z:in\\other.mp3 not found!\n", 1},
                    {{"Z:in\\other.ape", "Z:*"}, entry("Z:top.mp3", "appended tag from Z:in\\other.ape\n"), 0,
                     {{"top.mp3", kAudio + kId3Tag}}},
                    {{"-n", "\\\\?\\@\\nope.ape", "top.mp3"}, "file \\\\?\\@\\nope.ape not found!\n", 1},
                    {{"in\\other.ape", "\\\\?\\@\\nope"}, "file \\\\?\\@\\nope.mp3 not found!\n", 1}}});
}

TEST(Listing, HiddenAndSystemFilesAreNotListed) {
    check({.files = {{"in.ape", kAudio + kApeTag}, {"hidden.mp3", kAudio + kOldId3}, {"plain.mp3", kAudio + kOldId3},
                     {"system.mp3", kAudio + kOldId3}, {"both.mp3", kAudio + kOldId3}},
           .runs = {{{"in.ape", "*.mp3"}, entry("plain.mp3", "updated tag from in.ape\n"), 0, {{"plain.mp3", kAudio + kApeTag}}},
                    {{"in.ape", "hidden"}, "file hidden.mp3 not found!\n", 1}},
           .prepare =
               [](const ScratchFolder& folder) {
                   set_attributes(folder, {{"h", "hidden.mp3"}, {"s", "system.mp3"}, {"rh", "both.mp3"}});
               }});
}

// Entries come in the system's order. "x.mp3x" has the short alias
// X~....MP3, through which "*.mp3" matches it, as on a Windows volume with
// short names (a volume without them would not list it).
TEST(Listing, TheSystemMatchesWildcardsAndShortNames) {
    const std::string appended = "appended tag from in.ape\n";
    check({.files = {{"in.ape", kAudio + kId3Tag}, {"a b.mp3", kAudio}, {"Song [Live].MP3", kAudio}, {"x.mp3x", kAudio},
                     {"y.mp3.bak", kAudio}, {"dir.mp3/", {}}},
           .runs = {{{"in.ape", "*.mp3"},
                     entry("a b.mp3", appended) + entry("Song [Live].MP3", appended) + entry("x.mp3x", appended), 0,
                     {{"a b.mp3", kAudio + kId3Tag}, {"Song [Live].MP3", kAudio + kId3Tag}, {"x.mp3x", kAudio + kId3Tag}}}}});
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
        reports[jobs] = run_in(folder, {"in.ape", "*.mp3"}, 1).output;  // in.mp3 is the input
        for (int i = 0; i < 30; ++i) {
            write_file(folder / ("p" + std::to_string(100 + i) + ".mp3"), audio(i % 2 ? 900 : 5000));
        }
        write_file(folder / "big.ape", kAudio + ape_tag({.item_bytes = 3000, .fill = 'B'}));
        reports[jobs] += run_in(folder, {"o00.mp3", "p*.mp3"}, 0).output;
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
    std::string many_to_many = kBannerText, one_to_many = kBannerText;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto& [name, shown_as] = names[i];
        files["Музыка/" + name + ".ape"] = kAudio + ape_tag({.fill = static_cast<std::uint8_t>('a' + i)});
        files[name + ".mp3"] = kAudio;
        many_to_many += entry(shown_as + ".mp3", "appended tag from ??????\\" + shown_as + ".ape\n");
        one_to_many += entry(shown_as + ".mp3", std::string(name == "🎵 Song" ? "tag already up to date" : "updated tag") +
                                                     " from ??????\\?? Song.ape\n");
    }
    for (const auto& [path, bytes] : files) write_file(folder / path, bytes);
    EXPECT_EQ(run_in(folder, {"Музыка\\*.ape", "*.mp3"}, 0).output, reported(many_to_many));
    for (const auto& [name, shown_as] : names) files[name + ".mp3"] = files["Музыка/" + name + ".ape"];
    EXPECT_EQ(snapshot(folder.path), files);

    EXPECT_EQ(run_in(folder, {"Музыка\\東京.ape", "Ελληνικά"}, 0).output,
              reported(kBannerText + entry("????????.mp3", "updated tag from ??????\\??.ape\n")));
    files["Ελληνικά.mp3"] = files["Музыка/東京.ape"];
    EXPECT_EQ(snapshot(folder.path), files);
    std::string shown = console_report(folder, {"-n", "Музыка\\Мумий Тролль.ape", "東京"});
    EXPECT_NE(shown.find("東京.mp3:"), std::string::npos) << shown;
    EXPECT_NE(shown.find("would update tag from Музыка\\Мумий Тролль.ape"), std::string::npos) << shown;
    EXPECT_NE(shown.find("1 outputs: 1 updated, 0 appended, 0 up to date, 0 not done"), std::string::npos) << shown;

    EXPECT_EQ(run_in(folder, {"Музыка\\🎵 Song.ape", "*"}, 0).output, reported(one_to_many));
    for (const auto& [name, shown_as] : names) files[name + ".mp3"] = files["Музыка/🎵 Song.ape"];
    EXPECT_EQ(snapshot(folder.path), files);
}

// JSON Lines carry every name in UTF-8, whatever the ANSI code page, with
// '\n' line ends (json_records() refuses CR); the console shows every name.
TEST(JsonLines, NamesInAnyScriptAreUtf8) {
    ScratchFolder folder;
    write_file(folder / "東京.ape", kAudio + kApeTag);
    write_file(folder / "Мумий Тролль.mp3", kAudio);
    EXPECT_EQ(json_records(run_in(folder, {"--json", "東京.ape", "Мумий Тролль"}, 0).output),
              (std::vector<JsonRecord>{
                  {"output", "Мумий Тролль.mp3", "東京.ape", "appended", "appended tag from 東京.ape"},
                  {"summary", "0", "false"}}));
    std::string shown = console_report(folder, {"--json", "東京.ape", "Мумий Тролль"});  // 80 columns wide
    EXPECT_NE(shown.find(R"({"type":"output","output":"Мумий Тролль.mp3","input":"東京.ape",)"), std::string::npos)
        << shown;
}

// A folder whose path, even from the current folder, is longer than the 260
// characters of the ANSI calls. (Wine, like Windows, won't start a program
// in a current folder that long.)
TEST(Names, PathsBeyondTheOldLengthLimit) {
    std::string deep;  // five folders, '/' between them as in every case
    for (char disc = '1'; disc <= '5'; ++disc) {
        deep += (deep.empty() ? "" : "/") + std::string("Disc ") + disc +
                " of the Complete Studio Recordings (Remastered 2024) [Deluxe]";
    }
    ASSERT_GT(deep.size(), 300u);
    check({.files = {{deep + "/a.ape", kAudio + kApeTag}, {deep + "/c.tag", kAudio + kId3Tag}, {deep + "/a.mp3", kAudio},
                     {deep + "/b.mp3", kAudio + kOldId3}},
           .runs = {{{deep + "/a.ape", deep + "/a"}, entry(deep + "/a.mp3", "appended tag from " + deep + "/a.ape\n"), 0,
                     {{deep + "/a.mp3", kAudio + kApeTag}}},
                    {{"@/" + deep + "/c.tag", "@/" + deep + "/*.mp3"},
                     entry("@/" + deep + "/a.mp3", "updated tag from @/" + deep + "/c.tag\n") +
                         entry("@/" + deep + "/b.mp3", "updated tag from @/" + deep + "/c.tag\n"), 0,
                     {{deep + "/a.mp3", kAudio + kId3Tag}, {deep + "/b.mp3", kAudio + kId3Tag}}}}});
}

// Folder trees whose folders are named in other scripts, or lie deeper
// than 260 characters: every path is built and opened whole (redirected,
// the report shows each character the code page lacks as '?').
TEST(Names, FolderTreesInAnyScriptAndBeyondTheOldLengthLimit) {
    std::string deep;
    for (char disc = '1'; disc <= '4'; ++disc) {
        deep += (deep.empty() ? "" : "/") + std::string("Disc ") + disc +
                " of the Complete Studio Recordings (Remastered 2024) [Deluxe]";
    }
    check({.files = {{"lossless/Музыка/東京/1.ape", kAudio + kApeTag}, {"lossy/Музыка/東京/1.mp3", kAudio},
                     {"lossless/" + deep + "/2.ape", kAudio + kId3Tag}, {"lossy/" + deep + "/2.mp3", kAudio}},
           .runs = {{{"-r", "lossless/*.ape", "lossy/*.mp3"},
                     entry("lossy/" + deep + "/2.mp3", "appended tag from lossless/" + deep + "/2.ape\n") +
                         entry("lossy/?????\?/?\?/1.mp3", "appended tag from lossless/?????\?/?\?/1.ape\n"),
                     0,
                     {{"lossy/Музыка/東京/1.mp3", kAudio + kApeTag}, {"lossy/" + deep + "/2.mp3", kAudio + kId3Tag}}}}});
}

// On a console that holds the run up past half a second, a status line
// shows below the report; it is erased before each report line and at the
// end, so that what stays on the console is the report a redirected run
// prints, then the totals.
TEST(Console, AStatusLineShowsOnAHeldConsoleAndLeavesOnlyTheReport) {
    ScratchFolder folder;
    for (int pair = 100; pair < 400; ++pair) {
        write_file(folder / ("t" + std::to_string(pair) + ".ape"), kAudio + kApeTag);
        write_file(folder / ("t" + std::to_string(pair) + ".mp3"), kAudio);
    }
    std::string redirected = run_in(folder, {"-n", "*.ape", "*.mp3"}, 0).output;
    std::erase(redirected, '\r');
    std::string shown = held_console_report(folder, {"-n", "*.ape", "*.mp3"});
    EXPECT_NE(shown.find(" of 300 outputs done"), std::string::npos) << shown;
    EXPECT_EQ(screen_of(shown),
              redirected + "\n300 outputs: 0 updated, 300 appended, 0 up to date, 0 not done\n");
}

// Names ending in a dot or a space (made on other systems) beside hidden
// files named without it: the file listed is the one read or changed.
TEST(Names, ATrailingDotOrSpaceNamesItsOwnFile) {
    check({.files = {{"in.ape", kAudio + kId3Tag}, {"in.ape.", kAudio + kApeTag}, {"b.mp3", kAudio}, {"b.mp3.", kAudio},
                     {"c.mp3", kAudio}, {"c.mp3 ", kAudio}},
           .runs = {{{"*.ape", "*.mp3"},
                     entry("b.mp3.", "appended tag from in.ape.\n") + entry("c.mp3 ", "appended tag from in.ape.\n"), 0,
                     {{"b.mp3.", kAudio + kApeTag}, {"c.mp3 ", kAudio + kApeTag}}}},
           .prepare =
               [](const ScratchFolder& folder) {
                   set_attributes(folder, {{"h", "in.ape"}, {"h", "b.mp3"}, {"h", "c.mp3"}});
               }});
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
    EXPECT_EQ(run_in(folder, {"ソ.ape", "ソ.mp3"}, 0).output,
              reported(kBannerText + entry("\x83\x5C.mp3", "appended tag from \x83\x5C.ape\n")));
    for (const char* name : {"ア.mp3", "ヂ.mp3"}) write_file(pairs / name, kAudio);
    write_file(pairs / "ア.ape", kAudio + kApeTag);
    write_file(pairs / "z.ape", kAudio + kId3Tag);
    EXPECT_EQ(run_in(pairs, {"*.ape", "*.mp3"}, 1).output,
              reported(kBannerText + entry("\x83\x41.mp3", "appended tag from \x83\x41.ape\n") +
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
