// Listing two specifications at once gives each the names it would get
// alone, whether or not they share a directory.
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

Names sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
}

struct ListingFolder {
    ScratchFolder folder;
    ListingFolder() {
        for (const char* name : {"a.ape", "B.APE", "a.mp3", "b.mp3", "notes.txt"}) write_file(folder / name, {1});
        std::filesystem::create_directory(folder / "dir.mp3");
        std::filesystem::create_directory(folder / "sub");
        write_file(folder / "sub" / "c.mp3", {1});
    }
    std::string spec(const std::string& relative) const { return (folder.path / relative).string(); }
};

TEST(ListingTwo, TwoSpecificationsInOneDirectoryGetTheirOwnNames) {
    ListingFolder f;
    platform::MatchingFiles files = platform::list_matching_files(f.spec("*.ape"), f.spec("*.mp3"));
    EXPECT_EQ(sorted(files.first), (Names{"B.APE", "a.ape"}));
    EXPECT_EQ(sorted(files.second), (Names{"a.mp3", "b.mp3"}));  // the directory dir.mp3 is skipped
}

TEST(ListingTwo, TwoAtOnceGiveWhatEachGivesAlone) {
    ListingFolder f;
    const std::pair<std::string, std::string> cases[] = {
        {f.spec("*.ape"), f.spec("*.mp3")},      // one directory, read once
        {f.spec("*.mp3"), f.spec("*.mp3")},      // the same pattern twice
        {f.spec("a.*"), f.spec("?.mp3")},
        {f.spec("a.ape"), f.spec("b.ape")},      // a name as typed, a name of another case
        {f.spec("*.ape"), f.spec("sub/*.mp3")},  // two directories
        {f.spec("missing/*.ape"), f.spec("*.mp3")},
        {f.spec("*.flac"), f.spec("*.wav")},
    };
    for (const auto& [first, second] : cases) {
        platform::MatchingFiles files = platform::list_matching_files(first, second);
        EXPECT_EQ(files.first, platform::list_matching_files(first)) << first << " with " << second;
        EXPECT_EQ(files.second, platform::list_matching_files(second)) << first << " with " << second;
    }
}

}  // namespace
}  // namespace kestrane
