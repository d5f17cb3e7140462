// Listing a folder: each pattern gets the files it would get alone, whether
// one or two are matched in one reading; subfolders come apart; a missing
// folder is told from a listed one. (Hidden folders, links to folders and
// unreadable folders are met by the folder-tree runs end to end.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/listing.h"
#include "support/sample_files.h"

namespace kestrane {
namespace {

using testing::ScratchFolder;
using testing::write_file;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;

// Windows lists in the file system's order.
Names sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
}

struct ListingFolder {
    ScratchFolder folder;
    ListingFolder() {
        for (const char* name : {"a.ape", "B.APE", "a.mp3", "b.mp3", "notes.txt"}) write_file(folder / name, {1});
        fs::create_directory(folder / "dir.mp3");
        fs::create_directory(folder / "sub");
        write_file(folder / "sub" / "c.mp3", {1});
    }
    std::string at(const std::string& relative) const { return (folder.path / relative).string(); }
};

TEST(ListFolder, EachPatternGetsItsOwnNamesAndTheFoldersComeApart) {
    ListingFolder f;
    platform::FolderListing listing = platform::list_folder(f.at("") + "/", "*.ape", "*.mp3", true);
    EXPECT_EQ(listing.state, platform::FolderState::listed);
    EXPECT_EQ(sorted(listing.first), (Names{"B.APE", "a.ape"}));
    EXPECT_EQ(sorted(listing.second), (Names{"a.mp3", "b.mp3"}));  // the folder dir.mp3 is no file
    EXPECT_EQ(sorted(listing.folders), (Names{"dir.mp3", "sub"}));
    EXPECT_EQ(platform::list_folder(f.at("sub/"), "*.mp3").first, Names{"c.mp3"});
    EXPECT_TRUE(platform::list_folder(f.at("sub/"), "*.ape").first.empty());
    EXPECT_EQ(platform::list_folder(f.at("sub/"), "*.ape").state, platform::FolderState::listed);
    EXPECT_EQ(platform::list_folder(f.at("missing/"), "*.mp3").state, platform::FolderState::missing);
}

TEST(ListFolder, TwoPatternsAtOnceGiveWhatEachGivesAlone) {
    ListingFolder f;
    const std::pair<std::string, std::string> cases[] = {
        {"*.ape", "*.mp3"}, {"*.mp3", "*.mp3"},  // the same pattern twice
        {"a.*", "?.mp3"},   {"a.ape", "b.ape"},  // a name as typed, a name of another case
        {"*.flac", "*.wav"},
    };
    for (const auto& [first, second] : cases) {
        platform::FolderListing both = platform::list_folder(f.at("") + "/", first, second);
        EXPECT_EQ(both.first, platform::list_folder(f.at("") + "/", first).first) << first << " with " << second;
        EXPECT_EQ(both.second, platform::list_folder(f.at("") + "/", second).first) << first << " with " << second;
    }
}

}  // namespace
}  // namespace kestrane
