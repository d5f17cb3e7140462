// What a power cut keeps of the changes not yet durable: nothing (a plain
// cut), or a part chosen by a seed, as a disk that wrote some of its dirty
// pages back, in any order, before the power went. Each unsynced piece (a
// page of a file, a file's length, an entry change) is kept or lost by the
// toss of a coin that the seed and the piece's own numbers decide: the same
// seed and the same requests keep the same pieces, whatever order the cut
// looks at them in.
#pragma once

#include <cstdint>

namespace testfs {

enum class Piece : std::uint64_t { page = 1, length = 2, entry = 3 };

struct Keeping {
    bool by_chance = false;  // false: nothing is kept
    std::uint64_t seed = 0;

    // Whether the piece (of that kind, numbered so, with that part) reached
    // the disk: each with a chance of one half, never without by_chance.
    bool keeps(Piece kind, std::uint64_t number, std::uint64_t part = 0) const {
        if (!by_chance) return false;
        std::uint64_t toss = mix(mix(mix(mix(seed) ^ static_cast<std::uint64_t>(kind)) ^ number) ^ part);
        return (toss >> 63) != 0;
    }

private:
    // SplitMix64's step: a fixed, well-spread mapping of 64-bit values.
    static std::uint64_t mix(std::uint64_t value) {
        value += 0x9e3779b97f4a7c15u;
        value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9u;
        value = (value ^ (value >> 27)) * 0x94d049bb133111ebu;
        return value ^ (value >> 31);
    }
};

}  // namespace testfs
