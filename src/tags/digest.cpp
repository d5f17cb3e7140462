#include "tags/digest.h"

#include <cstring>

namespace kestrane {
namespace {

constexpr std::uint64_t kPrime = 0x100000001B3u;

// Mixes a word in so that every bit of it reaches every bit of the digest.
std::uint64_t mix(std::uint64_t digest, std::uint64_t word) {
    digest = (digest ^ word) * kPrime;
    return digest ^ (digest >> 29);
}

}  // namespace

std::uint64_t digest_of(std::span<const std::uint8_t> bytes, std::uint64_t seed) {
    std::uint64_t digest = seed;
    std::size_t whole = bytes.size() - bytes.size() % 8;
    for (std::size_t at = 0; at < whole; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + at, 8);  // the host's order: a digest never leaves the machine
        digest = mix(digest, word);
    }
    std::uint64_t last = 0;
    if (whole < bytes.size()) std::memcpy(&last, bytes.data() + whole, bytes.size() - whole);
    return mix(mix(digest, last), bytes.size());
}

}  // namespace kestrane
