// The file-name rules, with this platform's separators: '/' on POSIX, and
// also '\' and ':' on Windows.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "names/name_rules.h"
#include "names/path_facts.h"
#include "support/reference_rules.h"

namespace kestrane {
namespace {

using testing::base_names_match;

const bool kBackslashSeparates = is_path_separator('\\');

TEST(FileNamePart, PointsJustAfterTheLastSeparator) {
    EXPECT_EQ(file_name_part("song.mp3"), 0u);
    EXPECT_EQ(file_name_part("music/rock/song.mp3"), 11u);
    EXPECT_EQ(file_name_part("/song.mp3"), 1u);
    EXPECT_EQ(file_name_part(""), std::nullopt);
    EXPECT_EQ(file_name_part("music/"), std::nullopt);
    if (kBackslashSeparates) {
        EXPECT_EQ(file_name_part("C:song.mp3"), 2u);
        EXPECT_EQ(file_name_part("C:\\in\\a.ape"), 6u);
        EXPECT_EQ(file_name_part("C:\\in\\"), std::nullopt);
    } else {
        EXPECT_EQ(file_name_part("a\\b:c.mp3"), 0u);  // POSIX names may hold '\' and ':'
    }
}

TEST(FindExtension, AcceptsOneToThreeCharactersAfterTheLastDot) {
    EXPECT_EQ(find_extension("a.m"), 1u);
    EXPECT_EQ(find_extension("a.mp3"), 1u);
    EXPECT_EQ(find_extension("a.live.ape"), 6u);
    EXPECT_EQ(find_extension("a.flac"), std::nullopt);   // four characters
    EXPECT_EQ(find_extension("name."), std::nullopt);    // none after the dot
    EXPECT_EQ(find_extension("a.mp3.flac"), std::nullopt);  // an earlier dot is not tried
    EXPECT_EQ(find_extension("track"), std::nullopt);
    EXPECT_EQ(find_extension(""), std::nullopt);
    EXPECT_EQ(find_extension("a.b/c"), std::nullopt);    // the dot is in a directory
    EXPECT_EQ(find_extension(".mp3"), 0u);
}

TEST(DefaultExtension, AppendsMp3OnlyWhenThereIsNoExtension) {
    EXPECT_EQ(with_default_extension("track"), "track.mp3");
    EXPECT_EQ(with_default_extension("*"), "*.mp3");
    EXPECT_EQ(with_default_extension("a.flac"), "a.flac.mp3");
    EXPECT_EQ(with_default_extension("name."), "name..mp3");
    EXPECT_EQ(with_default_extension("a.b/c"), "a.b/c.mp3");
    EXPECT_EQ(with_default_extension("*.ape"), "*.ape");
    EXPECT_EQ(with_default_extension("x.mp3"), "x.mp3");
    if (kBackslashSeparates) {
        EXPECT_EQ(with_default_extension("a.b\\c"), "a.b\\c.mp3");
    }
}

TEST(HasWildcards, SeesStarAndQuestionMarkAnywhere) {
    EXPECT_TRUE(has_wildcards("*.mp3"));
    EXPECT_TRUE(has_wildcards("track?.ape"));
    EXPECT_TRUE(has_wildcards("d*r/x.mp3"));
    EXPECT_FALSE(has_wildcards("Song [Live].mp3"));
    EXPECT_FALSE(has_wildcards(""));
    // Windows: the '?' of a leading \\?\ is part of the prefix
    EXPECT_EQ(has_wildcards("\\\\?\\C:\\in\\a.mp3"), !kBackslashSeparates);
    EXPECT_TRUE(has_wildcards("\\\\?\\C:\\in\\*.mp3"));
    EXPECT_TRUE(has_wildcards("a\\\\?\\b.mp3"));
}

TEST(MatchesWildcards, StarAndQuestionMarkWithLetterCaseIgnored) {
    const std::tuple<const char*, const char*, bool> rows[] = {
        {"*.mp3", "Song.MP3", true},  {"*.mp3", "a.mp3.bak", false}, {"?.mp3", "b.mp3", true},
        {"?.mp3", "ab.mp3", false},   {"a*b*c", "aXbYbZc", true},    {"a*b*c", "aXbYbZ", false},
        {"*", "", true},              {"", "x", false},              {"[x].mp3", "[X].MP3", true},
        {"\xe9.mp3", "\xc9.mp3", false},  // only ASCII letters fold
    };
    for (const auto& [pattern, name, expected] : rows) {
        EXPECT_EQ(matches_wildcards(pattern, name), expected) << pattern << " / " << name;
    }
}

TEST(BaseNameKey, IsEqualExactlyWhenBaseNamesMatch) {
    const char* names[] = {"a.mp3", "A.ape", "a.live.ape", "ab.mp3", "AB", "a", "",
                           ".x", "b.mp3", "dir/a.mp3", "\xe9.mp3", "\xc9.mp3", "a_b.c"};
    for (const char* first : names) {
        for (const char* second : names) {
            EXPECT_EQ(base_name_key(first) == base_name_key(second), base_names_match(first, second))
                << first << " / " << second;
        }
    }
}

}  // namespace
}  // namespace kestrane
