// Holes: the parts of a sparse file that take no room on the disk and read
// as zeros. A tag that was a hole is put back as a hole.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/files.h"

namespace kestrane::platform {

struct ByteRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

// The parts of [from, to) that hold data, in order; all of it where the
// system can't tell, and where the file has no holes (OpenFile's
// may_have_holes), without asking.
std::vector<ByteRange> data_in(const OpenFile& file, std::uint64_t from, std::uint64_t to);

// Makes the range a hole again (it reads as zeros); false where the file
// system can't, and the range is then left as it is.
bool make_hole(const OpenFile& file, std::uint64_t offset, std::uint64_t length);

}  // namespace kestrane::platform
