// Folder trees (-r), the same for the POSIX and the Windows tool: a lossless
// library and its lossy copy walked together, the second run that finds
// everything in sync and writes nothing, one tree holding both, one input
// for a whole tree. Built into both end-to-end test programs.
#include <gtest/gtest.h>

#include "support/end_to_end_case.h"
#include "support/run_tool.h"
#include "support/sample_files.h"

namespace kestrane {
namespace {

using namespace kestrane::testing;

const Bytes kOne = ape_tag({.item_bytes = 50, .fill = '1'});
const Bytes kTwo = id3v1_tag("Two");
const Bytes kOnly = ape_tag({.item_bytes = 70, .fill = 'o'});
const Bytes kEp = ape_tag({.item_bytes = 60, .fill = 'e'});

// Names in lower case, so that byte order and the Windows file system's
// order agree.
const Files kLibrary = {
    {"lossless/artist/album/01 one.ape", kAudio + kOne},
    {"lossless/artist/album/02 two.ape", kAudio + kTwo},
    {"lossless/artist/single/only.ape", kAudio + kOnly},
    {"lossless/other/ep/x.ape", kAudio + kEp},
    {"lossy/artist/album/01 one.mp3", kAudio},             // appended
    {"lossy/artist/album/02 two.mp3", kAudio + kOldId3},   // updated
    {"lossy/artist/single/only.mp3", kAudio},              // the folder's one input is its own,
    {"lossy/artist/single/second.mp3", kAudio},            // not this one's
    {"lossy/new/band/a.mp3", kAudio},                      // no input folder at all
    {"lossy/other/ep/x.mp3", kAudio + kEp},                // in sync already
    {"lossy/.hidden/01 one.mp3", kAudio},                  // never walked
    {"lossy/artist/album/notes.txt", kAudio},              // not an output
};

// The report on the library: what became of the first two outputs, which
// an input of their name at the same relative path serves.
std::string library_report(const std::string& first, const std::string& second) {
    return entry("lossy/artist/album/01 one.mp3", first + " lossless/artist/album/01 one.ape\n") +
           entry("lossy/artist/album/02 two.mp3", second + " lossless/artist/album/02 two.ape\n") +
           entry("lossy/artist/single/only.mp3", first + " lossless/artist/single/only.ape\n") +
           entry("lossy/artist/single/second.mp3", "no matching input file!\n") +
           entry("lossy/new/band/a.mp3", "no matching input file!\n") +
           entry("lossy/other/ep/x.mp3", "tag already up to date from lossless/other/ep/x.ape\n");
}

TEST(FolderTrees, OutputsTakeTheInputAtTheSameRelativePath) {
    const std::string synced = "tag already up to date from";
    Files mixed = kLibrary;
    for (const auto& [name, bytes] : Files{{"mixed/c.ape", kAudio + kOne}, {"mixed/c.mp3", kAudio},
                                           {"mixed/d1/a.ape", kAudio + kTwo}, {"mixed/d1/a.mp3", kAudio + kOldApe},
                                           {"mixed/d1/lone.ape", kAudio + kOnly}, {"mixed/d1/z.mp3", kAudio}}) {
        mixed[name] = bytes;
    }
    check({.files = mixed,
           .runs = {{{"-rn", "lossless/*.ape", "lossy/*.mp3"},
                     library_report("would append tag from", "would update tag from"), 1},
                    {{"-r", "lossless/*.ape", "lossy/*.mp3"}, library_report("appended tag from", "updated tag from"), 1,
                     {{"lossy/artist/album/01 one.mp3", kAudio + kOne},
                      {"lossy/artist/album/02 two.mp3", kAudio + kTwo},
                      {"lossy/artist/single/only.mp3", kAudio + kOnly}}},
                    // the second run finds every output in sync
                    {{"-r", "lossless/*.ape", "lossy/*.mp3"}, library_report(synced, synced), 1},
                    // one tree holding both: each folder paired on its own
                    {{"-r", "mixed/*.ape", "mixed/*.mp3"},
                     entry("mixed/c.mp3", "appended tag from mixed/c.ape\n") +
                         entry("mixed/d1/a.mp3", "updated tag from mixed/d1/a.ape\n") +
                         entry("mixed/d1/z.mp3", "no matching input file!\n"),
                     1,
                     {{"mixed/c.mp3", kAudio + kOne}, {"mixed/d1/a.mp3", kAudio + kTwo}}},
                    // one input, no wildcards: it serves every output of the tree
                    {{"-r", "lossless/artist/single/only.ape", "lossy/*.mp3"},
                     entry("lossy/artist/album/01 one.mp3", "updated tag from lossless/artist/single/only.ape\n") +
                         entry("lossy/artist/album/02 two.mp3", "updated tag from lossless/artist/single/only.ape\n") +
                         entry("lossy/artist/single/only.mp3", synced + " lossless/artist/single/only.ape\n") +
                         entry("lossy/artist/single/second.mp3", "appended tag from lossless/artist/single/only.ape\n") +
                         entry("lossy/new/band/a.mp3", "appended tag from lossless/artist/single/only.ape\n") +
                         entry("lossy/other/ep/x.mp3", "updated tag from lossless/artist/single/only.ape\n"),
                     0,
                     {{"lossy/artist/album/01 one.mp3", kAudio + kOnly},
                      {"lossy/artist/album/02 two.mp3", kAudio + kOnly},
                      {"lossy/artist/single/second.mp3", kAudio + kOnly},
                      {"lossy/new/band/a.mp3", kAudio + kOnly},
                      {"lossy/other/ep/x.mp3", kAudio + kOnly}}},
                    // a specification that matches nothing anywhere in its tree
                    {{"-r", "lossless/*.wav", "lossy/*.mp3"}, "no input files found!\n", 1},
                    {{"-r", "lossless/*.ape", "lossy/*.ogg"}, "no output files found!\n", 1},
                    {{"-r", "lossless/nothing.ape", "lossy/*.mp3"}, "file lossless/nothing.ape not found!\n", 1}},
           .prepare = [](const ScratchFolder& folder) { kPlatform.hide(folder, "lossy/.hidden"); }});
}

// Quiet (-rq) over a library: the first run shows the outputs it tags, a
// second one over the synced tree only the totals. They count the inputs no
// output took: one beside the outputs, and those of an album folder the
// output tree lacks, however deep; a lone input has none.
TEST(FolderTrees, AQuietSecondRunOverASyncedTreePrintsOnlyTheTotals) {
    const std::string totals = "\n3 outputs: 0 updated, 0 appended, 3 up to date, 0 not done, 3 inputs without an output\n";
    check({.files = {{"lossless/artist/album/01 one.ape", kAudio + kOne},
                     {"lossless/artist/album/02 two.ape", kAudio + kTwo},
                     {"lossless/artist/album/03 bonus.ape", kAudio + kEp},      // no output beside it
                     {"lossless/artist/new album/01 new.ape", kAudio + kOnly},  // a folder not in the lossy tree
                     {"lossless/artist/new album/cd2/01 more.ape", kAudio + kOnly},
                     {"lossless/other/ep/x.ape", kAudio + kEp},
                     {"lossy/artist/album/01 one.mp3", kAudio},
                     {"lossy/artist/album/02 two.mp3", kAudio + kOldId3},
                     {"lossy/other/ep/x.mp3", kAudio + kEp},
                     {"lossy/other/ep/notes.txt", kAudio}},
           .runs = {{{"-rq", "lossless/*.ape", "lossy/*.mp3"},
                     entry("lossy/artist/album/01 one.mp3", "appended tag from lossless/artist/album/01 one.ape\n") +
                         entry("lossy/artist/album/02 two.mp3", "updated tag from lossless/artist/album/02 two.ape\n") +
                         "\n3 outputs: 1 updated, 1 appended, 1 up to date, 0 not done, 3 inputs without an output\n",
                     0,
                     {{"lossy/artist/album/01 one.mp3", kAudio + kOne}, {"lossy/artist/album/02 two.mp3", kAudio + kTwo}}},
                    {{"-rq", "lossless/*.ape", "lossy/*.mp3"}, totals, 0},
                    {{option("qr"), "lossless/other/ep/x.ape", "lossy/*.mp3"},
                     entry("lossy/artist/album/01 one.mp3", "updated tag from lossless/other/ep/x.ape\n") +
                         entry("lossy/artist/album/02 two.mp3", "updated tag from lossless/other/ep/x.ape\n") +
                         "\n3 outputs: 2 updated, 0 appended, 1 up to date, 0 not done\n",
                     0,
                     {{"lossy/artist/album/01 one.mp3", kAudio + kEp}, {"lossy/artist/album/02 two.mp3", kAudio + kEp}}}}});
}

// A run over a tree in sync changes no modification time, so that backup
// and sync programs see nothing to send again.
TEST(FolderTrees, ASecondRunWritesNothing) {
    ScratchFolder folder;
    for (const auto& [name, bytes] : kLibrary) {
        std::filesystem::create_directories((folder / name).parent_path());
        write_file(folder / name, bytes);
    }
    kPlatform.hide(folder, "lossy/.hidden");
    const std::vector<std::string> arguments = {"-r", with_separators("lossless/*.ape"), with_separators("lossy/*.mp3")};
    run_in(folder, arguments, 1);  // two outputs have no input
    age_files(folder);
    auto times = modification_times(folder);
    auto bytes = snapshot(folder.path);
    const std::string synced = "tag already up to date from";
    EXPECT_EQ(run_in(folder, arguments, 1).output, reported(kBannerText + with_separators(library_report(synced, synced))));
    EXPECT_EQ(modification_times(folder), times);
    EXPECT_EQ(snapshot(folder.path), bytes);
}

}  // namespace
}  // namespace kestrane
