// Helpers the tests share: scratch folders, whole-file reads and writes, and
// builders for audio filler and tags with exact, known bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
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

// Writes the bytes; each 64 KiB block of zeros is left a hole, so a big
// zero-filled tag takes no room on disk.
void write_file(const std::filesystem::path& path, const Bytes& bytes);
Bytes read_file(const std::filesystem::path& path);
// The last count bytes of the file (for files too big to read whole).
Bytes read_file_end(const std::filesystem::path& path, std::size_t count);
// A sparse file of length zero bytes followed by tail.
void write_sparse_file(const std::filesystem::path& path, std::uintmax_t zeros, const Bytes& tail);

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

// An APEv2 tag with header whose item_bytes items are all zero (a hole when
// written with write_file).
Bytes zero_filled_ape_tag(std::size_t item_bytes);

// A 128-byte ID3v1 block with the title filled in.
Bytes id3v1_tag(std::string_view title, std::string_view marker = "TAG");

// A Lyrics3v2 block holding the lyrics: "LYRICSBEGIN", the field "LYR"
// with its five-digit length and the text, the block's six-digit size and
// "LYRICS200".
Bytes lyrics3v2_block(std::string_view lyrics);

// Every regular file under the folder (symlinks not followed) with its bytes.
std::map<std::string, Bytes> snapshot(const std::filesystem::path& folder);

// Samples most end-to-end cases are made of: input tags of both kinds,
// old output tags, and audio.
inline const Bytes kApeTag = ape_tag({.item_bytes = 90, .fill = 'a'});
inline const Bytes kId3Tag = id3v1_tag("Input title");
inline const Bytes kOldApe = ape_tag({.item_bytes = 400, .fill = 'o'});
inline const Bytes kOldId3 = id3v1_tag("Old title");
inline const Bytes kAudio = audio(2000, 3);

}  // namespace kestrane::testing
