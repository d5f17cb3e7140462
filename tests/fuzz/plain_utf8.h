// UTF-8 as the Unicode standard's table of well-formed byte sequences puts
// it, written out byte range by byte range for the fuzz targets to check
// the tool's own reading against.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrane::fuzz {

// The length of the well-formed sequence that starts at text[at], 0 when
// none does. Surrogates (ED A0..BF ..) count as well formed only when
// surrogates_allowed, as where names carry unpaired UTF-16 surrogates.
inline std::size_t well_formed_length(std::string_view text, std::size_t at, bool surrogates_allowed) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    auto in = [](unsigned char b, unsigned low, unsigned high) { return b >= low && b <= high; };
    std::size_t left = text.size() - at;
    unsigned char lead = byte(0);
    if (lead <= 0x7F) return 1;
    unsigned second_low = 0x80, second_high = 0xBF;
    std::size_t length = 0;
    if (in(lead, 0xC2, 0xDF)) {
        length = 2;
    } else if (lead == 0xE0) {
        length = 3, second_low = 0xA0;
    } else if (in(lead, 0xE1, 0xEC) || in(lead, 0xEE, 0xEF)) {
        length = 3;
    } else if (lead == 0xED) {
        length = 3, second_high = surrogates_allowed ? 0xBF : 0x9F;
    } else if (lead == 0xF0) {
        length = 4, second_low = 0x90;
    } else if (in(lead, 0xF1, 0xF3)) {
        length = 4;
    } else if (lead == 0xF4) {
        length = 4, second_high = 0x8F;
    } else {
        return 0;
    }
    if (left < length || !in(byte(1), second_low, second_high)) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!in(byte(i), 0x80, 0xBF)) return 0;
    }
    return length;
}

}  // namespace kestrane::fuzz
