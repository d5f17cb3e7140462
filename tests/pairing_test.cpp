// Pairing through the base-name index picks exactly what comparing every
// input with every output would.
#include <gtest/gtest.h>

#include <random>

#include "names/name_rules.h"
#include "cli/pairing.h"
#include "support/reference_rules.h"

namespace kestrane {
namespace {

InputMatch match_by_scanning(const std::vector<std::string>& inputs, const std::string& output) {
    if (inputs.size() == 1) return {Matches::one, 0};
    InputMatch match;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!testing::base_names_match(output, inputs[i])) continue;
        if (match.matches == Matches::none) {
            match = {Matches::one, i};
        } else {
            match.matches = Matches::several;
        }
    }
    return match;
}

TEST(Pairing, LoneInputServesEveryOutput) {
    InputIndex index = index_inputs({"song.ape"});
    InputMatch match = find_input(index, "other.mp3");
    EXPECT_EQ(match.matches, Matches::one);
    EXPECT_EQ(match.input, 0u);
}

TEST(Pairing, FindsTheOneInputWithTheSameBaseName) {
    std::vector<std::string> inputs = {"a.live.ape", "b.ape", "c.ape", "c.flac"};
    InputIndex index = index_inputs(inputs);
    EXPECT_EQ(find_input(index, "A.mp3").matches, Matches::one);
    EXPECT_EQ(find_input(index, "A.mp3").input, 0u);
    EXPECT_EQ(find_input(index, "dir/b.x.mp3").input, 1u);
    EXPECT_EQ(find_input(index, "c.mp3").matches, Matches::several);  // two share the base name
    EXPECT_EQ(find_input(index, "d.mp3").matches, Matches::none);
}

// Inputs of one base name stand together: each knows the first of them,
// which a match of that name gives, whether it selects one input or several.
TEST(Pairing, InputsOfOneBaseNameKnowTheFirstOfThem) {
    InputIndex index = index_inputs({"a.ape", "b.ape", "A.flac", "c.ape"});
    EXPECT_EQ(index.first_of_its_name, (std::vector<std::size_t>{0, 1, 0, 3}));
    EXPECT_EQ(find_input(index, "a.mp3").matches, Matches::several);
    EXPECT_EQ(find_input(index, "a.mp3").input, 0u);
    EXPECT_EQ(index_inputs({"lone.ape"}).first_of_its_name, std::vector<std::size_t>{0});
}

// An input and an output of each base name; a second input ("zz.ape")
// keeps the lone-input rule from applying.
TEST(Pairing, BaseNamesEndAtTheFirstDotAndIgnoreLetterCase) {
    struct Row {
        const char* input;
        const char* output;
        bool pairs;
    };
    const Row rows[] = {
        {"a.live.ape", "A.mp3", true},
        {"TRACK01.ape", "dir/Track01.mp3", true},
        {"NOEXT", "noext", true},
        {"a", "a.mp3", true},
        {".other", ".hidden", true},  // both empty before the dot
        {"ab.ape", "a.mp3", false},
        {"a.ape", "ab.mp3", false},
        {"a_b.ape", "a.b.mp3", false},
        {"\xc9.ape", "\xe9.mp3", false},  // only ASCII letters fold
        {"a.ape", "dir.x/a.mp3", true},   // dots in folders don't count
    };
    for (const Row& row : rows) {
        InputMatch match = find_input(index_inputs({"zz.ape", row.input}), row.output);
        EXPECT_EQ(match.matches, row.pairs ? Matches::one : Matches::none) << row.input << " / " << row.output;
        if (row.pairs) {
            EXPECT_EQ(match.input, 1u) << row.input;
        }
    }
}

TEST(Pairing, AgreesWithComparingEveryPair) {
    std::mt19937 random(7);
    const std::string letters = "aAbB.._";
    auto random_name = [&] {
        std::string name;
        std::size_t length = random() % 5;
        for (std::size_t i = 0; i < length; ++i) name += letters[random() % letters.size()];
        return name;
    };
    for (int round = 0; round < 200; ++round) {
        std::vector<std::string> inputs(1 + random() % 6);
        for (auto& name : inputs) name = random_name();
        InputIndex index = index_inputs(inputs);
        for (int k = 0; k < 10; ++k) {
            std::string output = random_name();
            InputMatch expected = match_by_scanning(inputs, output);
            InputMatch found = find_input(index, output);
            ASSERT_EQ(found.matches, expected.matches) << output;
            if (expected.matches == Matches::one) {
                ASSERT_EQ(found.input, expected.input) << output;
            }
        }
    }
}

}  // namespace
}  // namespace kestrane
