// What the Windows file layer refuses to open, with real files, folders
// and devices. (The rest of it is used by every tag test.)
#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/sample_files.h"

namespace kestrane {
namespace {

using namespace kestrane::testing;

bool opens_as_input(const std::string& path) {
    platform::OpenFile file;
    bool opened = platform::open_input_file(path, file);
    platform::close_file(file);
    return opened;
}

bool opens_as_output(const std::string& path) {
    platform::OpenFile file;
    bool opened = platform::open_output_file(path, file);
    platform::close_file(file);
    return opened;
}

TEST(WindowsFiles, DevicesAndFoldersAreNoFiles) {
    ScratchFolder folder;
    std::filesystem::create_directory(folder / "dir.mp3");
    for (std::string path : {std::string("NUL"), std::string("CON"), (folder / "dir.mp3").string()}) {
        EXPECT_FALSE(opens_as_input(path)) << path;
        EXPECT_FALSE(opens_as_output(path)) << path;
    }
}

TEST(WindowsFiles, AnOpenFileIsSharedWithNoOne) {
    ScratchFolder folder;
    std::string path = (folder / "a.mp3").string();
    write_file(path, audio(100));
    platform::OpenFile held;
    ASSERT_TRUE(platform::open_input_file(path, held));
    EXPECT_EQ(held.length, 100u);
    EXPECT_FALSE(opens_as_input(path));
    EXPECT_FALSE(opens_as_output(path));
    platform::close_file(held);
    EXPECT_TRUE(opens_as_output(path));
}

}  // namespace
}  // namespace kestrane
