#include "support/sample_files.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

namespace kestrane::testing {
namespace {

void put_le32(Bytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes ape_frame(const ApeTagSpec& spec, std::uint32_t size, std::uint32_t flags) {
    Bytes frame = bytes_of(spec.preamble);
    put_le32(frame, spec.version);
    put_le32(frame, size);
    put_le32(frame, spec.item_count);
    put_le32(frame, flags);
    frame.resize(32, 0);
    return frame;
}

}  // namespace

ScratchFolder::ScratchFolder() {
    static std::mt19937_64 random{std::random_device{}()};
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
        path = base / ("kestrane-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(path)) return;
    }
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path, ignored);
    std::filesystem::remove_all(path.string() + ".state", ignored);  // the tool's journals of runs in it
}

void write_file(const std::filesystem::path& path, const Bytes& bytes) {
    constexpr std::size_t kBlock = 1 << 16;
    static const Bytes zeros(kBlock, 0);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::size_t at = 0; at < bytes.size(); at += kBlock) {
        const char* block = reinterpret_cast<const char*>(bytes.data() + at);
        std::size_t length = std::min(kBlock, bytes.size() - at);
        if (length == kBlock && std::memcmp(block, zeros.data(), kBlock) == 0) {
            out.seekp(static_cast<std::streamoff>(length), std::ios::cur);  // left a hole
        } else {
            out.write(block, static_cast<std::streamsize>(length));
        }
    }
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
    std::filesystem::resize_file(path, bytes.size());  // a hole at the end too
}

Bytes read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    Bytes bytes(std::filesystem::file_size(path));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return bytes;
}

std::map<std::string, Bytes> snapshot(const std::filesystem::path& folder) {
    std::map<std::string, Bytes> files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
        if (item.is_regular_file() && !item.is_symlink()) {
            files[std::filesystem::relative(item.path(), folder).string()] = read_file(item.path());
        }
    }
    return files;
}

Bytes read_file_end(const std::filesystem::path& path, std::size_t count) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(-static_cast<std::streamoff>(count), std::ios::end);
    Bytes bytes(count);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    if (!in) throw std::runtime_error("cannot read the end of " + path.string());
    return bytes;
}

void write_sparse_file(const std::filesystem::path& path, std::uintmax_t zeros, const Bytes& tail) {
    write_file(path, {});
    std::filesystem::resize_file(path, zeros);
    std::ofstream(path, std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(tail.data()), static_cast<std::streamsize>(tail.size()));
}

Bytes operator+(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes audio(std::size_t length, std::uint8_t seed) {
    Bytes bytes(length);
    std::uint32_t state = 2463534242u + seed;
    for (auto& b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<std::uint8_t>(state);
        if (b == 'A' || b == 'T') b = 0xFF;  // never a tag marker
    }
    return bytes;
}

Bytes ape_tag(const ApeTagSpec& spec) {
    auto size = static_cast<std::uint32_t>(spec.size_override >= 0 ? spec.size_override
                                                                   : static_cast<std::int64_t>(spec.item_bytes + 32));
    Bytes items(spec.item_bytes);
    for (std::size_t i = 0; i < items.size(); ++i) items[i] = static_cast<std::uint8_t>(spec.fill + i % 7);
    Bytes footer = ape_frame(spec, size, spec.header ? 0x80000000u : 0);
    if (!spec.header) return items + footer;
    return ape_frame(spec, size, 0xA0000000u) + items + footer;
}

Bytes zero_filled_ape_tag(std::size_t item_bytes) {
    Bytes frames = ape_tag({.item_bytes = 0, .size_override = static_cast<std::int64_t>(item_bytes + 32)});
    Bytes tag(frames.size() + item_bytes, 0);
    std::copy(frames.begin(), frames.begin() + 32, tag.begin());  // header
    std::copy(frames.end() - 32, frames.end(), tag.end() - 32);   // footer
    return tag;
}

Bytes id3v1_tag(std::string_view title, std::string_view marker) {
    Bytes block = bytes_of(marker);
    block.insert(block.end(), title.begin(), title.end());
    block.resize(128, 0);
    block[127] = 12;  // genre
    return block;
}

Bytes lyrics3v2_block(std::string_view lyrics) {
    auto digits = [](std::size_t number, std::size_t width) {
        std::string text = std::to_string(number);
        return std::string(width - text.size(), '0') + text;
    };
    Bytes block = bytes_of("LYRICSBEGIN") + bytes_of("LYR" + digits(lyrics.size(), 5)) + bytes_of(lyrics);
    return block + bytes_of(digits(block.size(), 6) + "LYRICS200");
}

}  // namespace kestrane::testing
