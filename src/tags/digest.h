// A 64-bit digest of bytes: enough to tell whether a file's end is exactly
// the bytes a run wrote there, or a tag from another tag of the same
// length, by accident never (one in 2^64); and quick, eight bytes a step,
// for tags of hundreds of MiB.
#pragma once

#include <cstdint>
#include <span>

namespace kestrane {

// The bytes' digest; seed starts it (a record's digest covers its parts by
// seeding each part's digest with the digest of those before).
std::uint64_t digest_of(std::span<const std::uint8_t> bytes, std::uint64_t seed = 0x9E3779B97F4A7C15u);

}  // namespace kestrane
