// Holes on Windows: the allocated ranges of a sparse file, and zeroing a
// range of one, which gives its room back.
#include "platform/holes.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>

namespace kestrane::platform {
namespace {

HANDLE native(const OpenFile& file) { return reinterpret_cast<HANDLE>(file.handle); }

}  // namespace

std::vector<ByteRange> data_in(const OpenFile& file, std::uint64_t from, std::uint64_t to) {
    if (from >= to) return {};
    if (!file.may_have_holes) return {{from, to - from}};
    FILE_ALLOCATED_RANGE_BUFFER asked{};
    asked.FileOffset.QuadPart = static_cast<LONGLONG>(from);
    asked.Length.QuadPart = static_cast<LONGLONG>(to - from);
    std::vector<FILE_ALLOCATED_RANGE_BUFFER> found(64);
    DWORD got = 0;
    if (!::DeviceIoControl(native(file), FSCTL_QUERY_ALLOCATED_RANGES, &asked, sizeof asked, found.data(),
                           static_cast<DWORD>(found.size() * sizeof found[0]), &got, nullptr)) {
        return {{from, to - from}};  // too many ranges to list, or no answer: all of it
    }
    std::vector<ByteRange> ranges;
    for (DWORD i = 0; i < got / sizeof found[0]; ++i) {
        std::uint64_t start = std::max<std::uint64_t>(static_cast<std::uint64_t>(found[i].FileOffset.QuadPart), from);
        std::uint64_t end = std::min<std::uint64_t>(
            static_cast<std::uint64_t>(found[i].FileOffset.QuadPart + found[i].Length.QuadPart), to);
        if (start < end) ranges.push_back({start, end - start});
    }
    return ranges;
}

bool make_hole(const OpenFile& file, std::uint64_t offset, std::uint64_t length) {
    FILE_ZERO_DATA_INFORMATION zero{};
    zero.FileOffset.QuadPart = static_cast<LONGLONG>(offset);
    zero.BeyondFinalZero.QuadPart = static_cast<LONGLONG>(offset + length);
    DWORD returned = 0;
    return ::DeviceIoControl(native(file), FSCTL_SET_ZERO_DATA, &zero, sizeof zero, nullptr, 0, &returned, nullptr) != 0;
}

}  // namespace kestrane::platform
