// Interoperability with TagLib: MPEG files tagged by TagLib's own writers
// (and a few layouts TagLib cannot write, made by hand) are handed to the
// kestrane executable in every mode and every kind of pairing, then read
// back with TagLib. The copied tags (an APEv2 tag and the ID3v1 tag TagLib
// puts after it travel as one block) must read back field for field, the
// output must hold one APEv2 tag at most, the audio TagLib sees must not
// change, and no byte in front of the written block may change.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>

#include <taglib/apeitem.h>
#include <taglib/apetag.h>
#include <taglib/id3v1tag.h>
#include <taglib/mpegfile.h>
#include <taglib/mpegproperties.h>
#include <taglib/tag.h>

#include "support/run_tool.h"
#include "support/sample_files.h"

namespace kestrane {
namespace {

using namespace kestrane::testing;
namespace fs = std::filesystem;

// Silent MPEG-1 Layer III frames: 128 kbit/s, 44.1 kHz, mono, no CRC, 417
// bytes each. Side information of zeros means no audio data; the rest of a
// frame is ancillary bytes, filled from seed so files differ, and kept below
// 0x80 so they can never look like a frame sync or a tag marker.
constexpr int kFrames = 40;
constexpr std::size_t kFrameLength = 417;

Bytes silent_frames(std::uint8_t seed) {
    Bytes frames;
    for (int f = 0; f < kFrames; ++f) {
        Bytes frame(kFrameLength, 0);
        frame[0] = 0xFF;
        frame[1] = 0xFB;  // MPEG-1, Layer III, no CRC
        frame[2] = 0x90;  // 128 kbit/s, 44.1 kHz, no padding
        frame[3] = 0xC4;  // mono, original
        for (std::size_t i = 4 + 17; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>((seed + f + i) % 0x30);
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    return frames;
}

// Where a file's tags are, as written.
enum class Layout {
    none,
    ape,                 // APEv2 with header, written by TagLib
    id3v1,               // written by TagLib
    ape_then_id3v1,      // both, TagLib's layout
    headerless_ape,      // APEv2 without header, by hand
    version_1000_ape,    // an older APE tag, by hand: not recognised
};
constexpr Layout kLayouts[] = {Layout::none, Layout::ape, Layout::id3v1, Layout::ape_then_id3v1,
                               Layout::headerless_ape, Layout::version_1000_ape};

const char* layout_name(Layout layout) {
    switch (layout) {
        case Layout::none: return "none";
        case Layout::ape: return "ape";
        case Layout::id3v1: return "id3";
        case Layout::ape_then_id3v1: return "both";
        case Layout::headerless_ape: return "headerless";
        case Layout::version_1000_ape: return "v1000";
    }
    return "?";
}

void put_le32(Bytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// An APE tag built by hand from text items: items and footer, no header.
Bytes hand_made_ape(std::uint32_t version, const std::string& title) {
    Bytes items;
    auto item = [&](std::string key, std::string value) {
        put_le32(items, static_cast<std::uint32_t>(value.size()));
        put_le32(items, 0);
        items.insert(items.end(), key.begin(), key.end());
        items.push_back(0);
        items.insert(items.end(), value.begin(), value.end());
    };
    item("Title", title);
    item("Artist", "Hand Made");
    item("Track", "7");
    Bytes footer = bytes_of("APETAGEX");
    put_le32(footer, version);
    put_le32(footer, static_cast<std::uint32_t>(items.size() + 32));
    put_le32(footer, 3);
    put_le32(footer, 0);  // flags: no header
    footer.resize(32, 0);
    return items + footer;
}

// Binary item bytes: zeros and high bytes, but no 0xFF (a frame sync byte).
TagLib::ByteVector binary_item(int seed, std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>((i * 37 + static_cast<std::size_t>(seed)) % 0xFF);
    }
    return TagLib::ByteVector(bytes.data(), static_cast<unsigned>(length));
}

void fill_common_fields(TagLib::Tag* tag, const std::string& name, unsigned seed) {
    tag->setTitle("Title of " + name);
    tag->setArtist("Artist " + std::to_string(seed));
    tag->setAlbum("Album");
    tag->setComment("Comment for " + name);
    tag->setGenre("Jazz");
    tag->setYear(1990 + seed % 30);
    tag->setTrack(1 + seed % 20);
}

struct MadeFile {
    Bytes bytes;
    std::size_t audio_length = 0;
    Layout layout = Layout::none;
};

// Writes an MPEG file with the given tags at path and returns its bytes.
// An APEv2 tag carries a front cover of cover_bytes.
MadeFile make_mpeg_file(const fs::path& path, Layout layout, unsigned seed, std::size_t cover_bytes = 300) {
    std::string name = path.filename().string();
    Bytes frames = silent_frames(static_cast<std::uint8_t>(seed));
    write_file(path, frames);
    if (layout == Layout::headerless_ape || layout == Layout::version_1000_ape) {
        write_file(path, frames + hand_made_ape(layout == Layout::headerless_ape ? 2000 : 1000, "Hand " + name));
    } else if (layout != Layout::none) {
        TagLib::MPEG::File file(path.c_str());
        EXPECT_TRUE(file.isValid()) << name;
        int tags = 0;
        if (layout == Layout::ape || layout == Layout::ape_then_id3v1) {
            TagLib::APE::Tag* ape = file.APETag(true);
            fill_common_fields(ape, name, seed);
            ape->addValue("Custom Key", "custom value of " + name);
            ape->setItem("Moods", TagLib::APE::Item("Moods", TagLib::StringList(TagLib::String("calm")).append("late")));
            ape->setItem("Cover Art (Front)", TagLib::APE::Item("Cover Art (Front)", binary_item(static_cast<int>(seed), cover_bytes), true));
            tags |= TagLib::MPEG::File::APE;
        }
        if (layout == Layout::id3v1 || layout == Layout::ape_then_id3v1) {
            fill_common_fields(file.ID3v1Tag(true), name + " (v1)", seed);
            tags |= TagLib::MPEG::File::ID3v1;
        }
        EXPECT_TRUE(file.save(tags, TagLib::File::StripOthers, TagLib::ID3v2::v4, TagLib::File::DoNotDuplicate));
    }
    MadeFile made{read_file(path), frames.size(), layout};
    EXPECT_EQ(Bytes(made.bytes.begin(), made.bytes.begin() + static_cast<std::ptrdiff_t>(frames.size())), frames)
        << "TagLib changed the audio of " << name;
    return made;
}

// The tag kestrane sees at the end of a file made as above, as the byte
// range it starts at (none when it sees no tag).
std::optional<std::size_t> tag_start(const MadeFile& file) {
    switch (file.layout) {
        case Layout::ape:
        case Layout::headerless_ape:
        case Layout::ape_then_id3v1: return file.audio_length;  // both tags are one block
        case Layout::id3v1: return file.bytes.size() - 128;
        case Layout::none:
        case Layout::version_1000_ape: return std::nullopt;
    }
    return std::nullopt;
}

bool copies_ape(Layout input) {
    return input == Layout::ape || input == Layout::headerless_ape || input == Layout::ape_then_id3v1;
}

// How many APEv2 footers (version 2000, not a header) the file holds.
int ape_footers(const Bytes& file) {
    const Bytes preamble = bytes_of("APETAGEX");
    int footers = 0;
    for (auto at = file.begin(); (at = std::search(at, file.end(), preamble.begin(), preamble.end())) != file.end();
         ++at) {
        if (file.end() - at < 32) break;
        bool version_2000 = at[8] == 0xD0 && at[9] == 0x07 && at[10] == 0 && at[11] == 0;
        if (version_2000 && (at[23] & 0x20) == 0) ++footers;
    }
    return footers;
}

struct AudioFacts {
    int length_ms, bitrate, sample_rate, channels, layer;
    bool operator==(const AudioFacts&) const = default;
};

AudioFacts audio_facts(TagLib::MPEG::File& file) {
    const TagLib::MPEG::Properties* p = file.audioProperties();
    if (p == nullptr) return {-1, -1, -1, -1, -1};
    return {p->lengthInMilliseconds(), p->bitrate(), p->sampleRate(), p->channels(), p->layer()};
}

void expect_same_fields(TagLib::Tag* expected, TagLib::Tag* actual, const std::string& what) {
    ASSERT_NE(expected, nullptr) << what;
    ASSERT_NE(actual, nullptr) << what;
    EXPECT_EQ(actual->title(), expected->title()) << what;
    EXPECT_EQ(actual->artist(), expected->artist()) << what;
    EXPECT_EQ(actual->album(), expected->album()) << what;
    EXPECT_EQ(actual->comment(), expected->comment()) << what;
    EXPECT_EQ(actual->genre(), expected->genre()) << what;
    EXPECT_EQ(actual->year(), expected->year()) << what;
    EXPECT_EQ(actual->track(), expected->track()) << what;
    EXPECT_FALSE(expected->title().isEmpty()) << what;
}

// Every APE item (custom, multi-valued and binary ones too), rendered.
std::map<std::string, TagLib::ByteVector> ape_items(TagLib::APE::Tag* tag) {
    std::map<std::string, TagLib::ByteVector> items;
    for (const auto& [key, item] : tag->itemListMap()) items[key.to8Bit(true)] = item.render();
    return items;
}

enum class Mode { update_or_append, append_only, update_only };
constexpr Mode kModes[] = {Mode::update_or_append, Mode::append_only, Mode::update_only};

std::vector<std::string> with_mode(Mode mode, std::vector<std::string> arguments) {
    if (mode == Mode::append_only) arguments.insert(arguments.begin(), "-a");
    if (mode == Mode::update_only) arguments.insert(arguments.begin(), "-u");
    return arguments;
}

// What a run must have printed for one pair and what the output must hold.
struct Expected {
    std::string outcome;
    Bytes output;
    bool written = false;
};

Expected expected_copy(const MadeFile& input, const std::string& input_path, const MadeFile& output,
                       const std::string& output_path, Mode mode) {
    auto in_start = tag_start(input);
    auto out_start = tag_start(output);
    if (!in_start) return {"file " + input_path + " does not have valid tag!\n", output.bytes};
    Bytes tag(input.bytes.begin() + static_cast<std::ptrdiff_t>(*in_start), input.bytes.end());
    if (out_start) {
        if (mode == Mode::append_only) return {"file " + output_path + " already has valid tag!\n", output.bytes};
        Bytes front(output.bytes.begin(), output.bytes.begin() + static_cast<std::ptrdiff_t>(*out_start));
        return {"updated tag from " + input_path + "\n", front + tag, true};
    }
    if (mode == Mode::update_only) return {"file " + output_path + " does not have a valid tag!\n", output.bytes};
    return {"appended tag from " + input_path + "\n", output.bytes + tag, true};
}

// Reads input and output back with TagLib after a copy: the copied tag's
// fields and items equal the input's, the audio is what it was.
void check_with_taglib(const fs::path& input_path, const MadeFile& input, const fs::path& output_path,
                       const AudioFacts& audio_before, bool written) {
    std::string what = input_path.filename().string() + " -> " + output_path.filename().string();
    TagLib::MPEG::File in(input_path.c_str());
    TagLib::MPEG::File out(output_path.c_str());
    ASSERT_TRUE(out.isValid()) << what;
    AudioFacts after = audio_facts(out);
    EXPECT_EQ(after, audio_before) << what;
    EXPECT_EQ(after, (AudioFacts{audio_before.length_ms, 128, 44100, 1, 3})) << what;
    EXPECT_GT(after.length_ms, 1000) << what;
    if (!written) return;
    // The copied block is the last thing in the file: the output holds one
    // APEv2 tag when it has one, and an ID3v1 tag when it has one.
    EXPECT_EQ(ape_footers(read_file(output_path)), copies_ape(input.layout) ? 1 : 0) << what;
    EXPECT_EQ(out.hasID3v1Tag(), in.hasID3v1Tag()) << what;
    if (copies_ape(input.layout)) {
        ASSERT_TRUE(out.hasAPETag()) << what;
        expect_same_fields(in.APETag(), out.APETag(), what);
        EXPECT_EQ(ape_items(out.APETag()), ape_items(in.APETag())) << what;
        if (input.layout != Layout::headerless_ape) {
            EXPECT_EQ(out.APETag()->itemListMap().size(), 10u) << what;
        }
    }
    if (in.hasID3v1Tag()) {
        ASSERT_TRUE(out.hasID3v1Tag()) << what;
        expect_same_fields(in.ID3v1Tag(), out.ID3v1Tag(), what);
    }
}

AudioFacts audio_facts_of(const fs::path& path) {
    TagLib::MPEG::File file(path.c_str());
    return audio_facts(file);
}

const char* mode_name(Mode mode) {
    return mode == Mode::append_only ? "-a" : mode == Mode::update_only ? "-u" : "default";
}

// A folder with one input and one output of every pair of layouts, named
// so that many-to-many pairing joins them.
struct PairFolder {
    ScratchFolder folder;
    struct Pair {
        std::string input, output;
        MadeFile input_file, output_file;
        AudioFacts audio_before;
    };
    std::vector<Pair> pairs;  // in the order the tool reports them
    PairFolder() {
        unsigned seed = 0;
        for (Layout in : kLayouts) {
            for (Layout out : kLayouts) {
                std::string base = std::string("p-") + layout_name(in) + "-to-" + layout_name(out);
                Pair pair{base + ".ape", base + ".mp3", {}, {}, {}};
                pair.input_file = make_mpeg_file(folder / pair.input, in, ++seed);
                pair.output_file = make_mpeg_file(folder / pair.output, out, ++seed);
                pair.audio_before = audio_facts_of(folder / pair.output);
                pairs.push_back(pair);
            }
        }
        std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.output < b.output; });
    }
    void check(const Pair& pair, const Expected& expected) {
        EXPECT_EQ(read_file(folder / pair.output), expected.output) << pair.output;
        EXPECT_EQ(read_file(folder / pair.input), pair.input_file.bytes) << pair.input;
        check_with_taglib(folder / pair.input, pair.input_file, folder / pair.output, pair.audio_before,
                          expected.written);
    }
};

TEST(TagLibInterop, TheFilesTagLibWritesHaveTheLayoutsTheTestsAssume) {
    ScratchFolder folder;
    for (Layout layout : kLayouts) {
        MadeFile made = make_mpeg_file(folder / "f.mp3", layout, 3);
        TagLib::MPEG::File file((folder / "f.mp3").c_str());
        ASSERT_TRUE(file.isValid());
        EXPECT_EQ(audio_facts(file), (AudioFacts{1043, 128, 44100, 1, 3})) << layout_name(layout);
        EXPECT_EQ(file.hasAPETag(), layout != Layout::none && layout != Layout::id3v1) << layout_name(layout);
        EXPECT_EQ(file.hasID3v1Tag(), layout == Layout::id3v1 || layout == Layout::ape_then_id3v1);
        if (layout == Layout::ape || layout == Layout::ape_then_id3v1) {
            // TagLib writes a header: the tag starts right after the audio
            std::size_t ape_end = made.bytes.size() - (layout == Layout::ape ? 0 : 128);
            EXPECT_EQ(Bytes(made.bytes.begin() + static_cast<std::ptrdiff_t>(made.audio_length),
                            made.bytes.begin() + static_cast<std::ptrdiff_t>(made.audio_length) + 8),
                      bytes_of("APETAGEX"));
            EXPECT_EQ(Bytes(made.bytes.begin() + static_cast<std::ptrdiff_t>(ape_end) - 32,
                            made.bytes.begin() + static_cast<std::ptrdiff_t>(ape_end) - 24),
                      bytes_of("APETAGEX"));
        }
        // TagLib reads the hand-made tags too, the older version included
        if (layout == Layout::headerless_ape || layout == Layout::version_1000_ape) {
            EXPECT_EQ(file.APETag()->title(), "Hand f.mp3") << layout_name(layout);
        }
    }
}

TEST(TagLibInterop, ManyToManyEveryLayoutPairInEveryMode) {
    for (Mode mode : kModes) {
        PairFolder files;
        std::string expected_report = kBannerText;
        std::vector<Expected> expected;
        for (const auto& pair : files.pairs) {
            expected.push_back(expected_copy(pair.input_file, pair.input, pair.output_file, pair.output, mode));
            expected_report += entry(pair.output, expected.back().outcome);
        }
        ToolRun run = run_tool(files.folder.path, with_mode(mode, {"*.ape", "*.mp3"}));
        EXPECT_EQ(run.output, expected_report) << mode_name(mode);
        for (std::size_t i = 0; i < files.pairs.size(); ++i) files.check(files.pairs[i], expected[i]);
    }
}

TEST(TagLibInterop, OneToOneEveryLayoutPairInEveryMode) {
    for (Mode mode : kModes) {
        PairFolder files;
        for (const auto& pair : files.pairs) {
            Expected expected = expected_copy(pair.input_file, pair.input, pair.output_file, pair.output, mode);
            ToolRun run = run_tool(files.folder.path, with_mode(mode, {pair.input, pair.output}));
            EXPECT_EQ(run.output, kBannerText + entry(pair.output, expected.outcome)) << mode_name(mode);
            files.check(pair, expected);
        }
    }
}

TEST(TagLibInterop, OneToManyEveryOutputLayoutInEveryMode) {
    for (Mode mode : kModes) {
        for (Layout in : {Layout::ape, Layout::id3v1, Layout::ape_then_id3v1, Layout::headerless_ape}) {
            ScratchFolder folder;
            MadeFile input = make_mpeg_file(folder / "album.ape", in, 99);
            std::vector<std::pair<std::string, MadeFile>> outputs;
            std::vector<AudioFacts> audio_before;
            std::string report = kBannerText;
            std::vector<Expected> expected;
            unsigned seed = 0;
            for (Layout out : kLayouts) {
                std::string name = std::string("track-") + layout_name(out) + ".mp3";
                outputs.emplace_back(name, make_mpeg_file(folder / name, out, ++seed));
            }
            std::sort(outputs.begin(), outputs.end(), [](auto& a, auto& b) { return a.first < b.first; });
            for (const auto& [name, file] : outputs) {
                audio_before.push_back(audio_facts_of(folder / name));
                expected.push_back(expected_copy(input, "album.ape", file, name, mode));
                report += entry(name, expected.back().outcome);
            }
            ToolRun run = run_tool(folder.path, with_mode(mode, {"album.ape", "track-*.mp3"}));
            EXPECT_EQ(run.output, report) << mode_name(mode) << " from " << layout_name(in);
            for (std::size_t i = 0; i < outputs.size(); ++i) {
                EXPECT_EQ(read_file(folder / outputs[i].first), expected[i].output) << outputs[i].first;
                check_with_taglib(folder / "album.ape", input, folder / outputs[i].first, audio_before[i],
                                  expected[i].written);
            }
            EXPECT_EQ(read_file(folder / "album.ape"), input.bytes);
        }
    }
}

// Cover art as today's libraries embed it: a 20 MiB tag copied onto an
// output whose tag carries a 5 MiB cover (alone, and in front of an ID3v1
// tag), and onto one without a tag.
TEST(TagLibInterop, BigCoverArtTagsInEveryMode) {
    for (Mode mode : kModes) {
        ScratchFolder folder;
        MadeFile input = make_mpeg_file(folder / "album.ape", Layout::ape, 1, 20 << 20);
        ASSERT_GT(input.bytes.size() - input.audio_length, std::size_t{20} << 20);
        std::vector<std::pair<std::string, MadeFile>> outputs = {
            {"covered.mp3", make_mpeg_file(folder / "covered.mp3", Layout::ape, 2, 5 << 20)},
            {"covered.v1.mp3", make_mpeg_file(folder / "covered.v1.mp3", Layout::ape_then_id3v1, 4, 5 << 20)},
            {"plain.mp3", make_mpeg_file(folder / "plain.mp3", Layout::none, 3)}};
        std::string report = kBannerText;
        std::vector<Expected> expected;
        std::vector<AudioFacts> audio_before;
        for (const auto& [name, file] : outputs) {
            expected.push_back(expected_copy(input, "album.ape", file, name, mode));
            report += entry(name, expected.back().outcome);
            audio_before.push_back(audio_facts_of(folder / name));
        }
        EXPECT_EQ(run_tool(folder.path, with_mode(mode, {"album.ape", "*.mp3"})).output, report) << mode_name(mode);
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            const std::string& name = outputs[i].first;
            EXPECT_EQ(fs::file_size(folder / name), expected[i].output.size()) << name << " " << mode_name(mode);
            EXPECT_EQ(read_file(folder / name), expected[i].output) << name << " " << mode_name(mode);
            check_with_taglib(folder / "album.ape", input, folder / name, audio_before[i], expected[i].written);
        }
        EXPECT_EQ(read_file(folder / "album.ape"), input.bytes);
    }
}

}  // namespace
}  // namespace kestrane
