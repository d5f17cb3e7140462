// Helpers the tests share: scratch folders, whole-file reads and writes, and
// builders for audio filler and tags with exact, known bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane::testing {

using Bytes = std::vector<std::uint8_t>;

// A fresh, empty folder, removed with everything in it when the value ends.
struct ScratchFolder {
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    std::filesystem::path path;
    std::filesystem::path operator/(std::string_view name) const { return path / name; }
};

void write_file(const std::filesystem::path& path, const Bytes& bytes);
Bytes read_file(const std::filesystem::path& path);

Bytes operator+(Bytes first, const Bytes& second);
Bytes bytes_of(std::string_view text);

// Audio-like filler of the given length that ends in no tag.
Bytes audio(std::size_t length, std::uint8_t seed = 1);

// An APEv2 tag: header (when wanted), item_bytes bytes of item data, footer.
// Fields can be overridden to build invalid footers.
struct ApeTagSpec {
    std::size_t item_bytes = 40;
    bool header = true;
    std::uint32_t version = 2000;
    std::uint32_t item_count = 1;
    std::int64_t size_override = -1;  // footer size field, when >= 0
    std::uint8_t fill = 'x';
    std::string preamble = "APETAGEX";
};
Bytes ape_tag(const ApeTagSpec& spec = {});

// A 128-byte ID3v1 block with the title filled in.
Bytes id3v1_tag(std::string_view title, std::string_view marker = "TAG");

}  // namespace kestrane::testing
