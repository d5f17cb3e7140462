// Reading UTF-8 one sequence at a time, the same way for the Windows name
// conversions and the JSON report. Plain code, no system header.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrane {

struct Utf8Sequence {
    char32_t code_point = 0;
    std::size_t length = 0;  // 0: no well-formed sequence starts there
};

// The sequence that starts at text[at]. Overlong forms, stray continuation
// bytes and code points over U+10FFFF are not well formed; a surrogate's
// code point is decoded like any other, and the caller decides on it.
inline Utf8Sequence decode_utf8(std::string_view text, std::size_t at) {
    auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at + length > text.size()) return {};
    char32_t code_point = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        auto byte = static_cast<unsigned char>(text[at + i]);
        if ((byte & 0xC0) != 0x80) return {};
        code_point = (code_point << 6) | (byte & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code_point < kSmallest[length] || code_point > 0x10FFFF) return {};
    return {code_point, length};
}

}  // namespace kestrane
