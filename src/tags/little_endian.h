// Numbers as the journal stores them: little-endian, whatever the host.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrane {

inline void put_little_endian(std::vector<std::uint8_t>& bytes, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

inline std::uint64_t get_little_endian(const std::uint8_t* bytes, int width) {
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

}  // namespace kestrane
