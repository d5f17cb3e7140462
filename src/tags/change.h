// One change a run makes to an output, as its journal keeps it: enough to
// tell afterwards whether the output holds its old end or its new one, and
// to put its old end back.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/holes.h"

namespace kestrane {

struct Change {
    std::string output_path;  // made absolute, so that it names the file from any folder
    platform::FileIdentity identity;
    std::uint64_t old_length = 0;  // the output's length before
    std::uint64_t position = 0;    // where the new block goes; the old block runs from here to old_length
    std::vector<std::uint8_t> old_block;
    std::vector<platform::ByteRange> old_data;  // the parts of the old block that held data; the rest were holes
    std::uint64_t new_length = 0;
    std::uint64_t new_digest = 0;     // of the new block, from position to new_length
    std::uint64_t before_length = 0;  // how many bytes in front of position are vouched for (at most 512)
    std::uint64_t before_digest = 0;  // their digest: the same file has the same bytes there
};

// The change as its journal keeps it: the old block's holes take no room.
// Pieces to write one after the other; they point into the change.
struct EncodedChange {
    std::vector<std::uint8_t> head;
    std::vector<std::span<const std::uint8_t>> data;
    std::vector<std::uint8_t> tail;
    std::uint64_t size() const;
};
EncodedChange encode(const Change& change);

// Reads the change encoded at offset; none when what stands there is no
// whole change (a run ended while writing it). Sets next to the offset after it.
std::optional<Change> decode_change(const platform::OpenFile& file, std::uint64_t offset, std::uint64_t& next);

// Puts the old end back: the old block's data written at its place, its
// holes made holes again (zeros written where the file system can't), the
// old length set. False when a write fails.
bool put_back_old_end(const platform::OpenFile& file, const Change& change);

}  // namespace kestrane
