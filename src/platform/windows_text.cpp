// Conversions between the tool's UTF-8 and the system's UTF-16 and ANSI code page.
#include "platform/windows_text.h"

#include <windows.h>

#include "names/utf8.h"

namespace kestrane::platform {
namespace {

constexpr wchar_t kReplacementCharacter = 0xFFFD;

bool is_high_surrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void append_utf8(char32_t code_point, std::string& text) {
    if (code_point < 0x80) {
        text += static_cast<char>(code_point);
        return;
    }
    std::size_t length = code_point < 0x800 ? 2 : code_point < 0x10000 ? 3 : 4;
    constexpr unsigned char kLeadMarks[] = {0, 0, 0xC0, 0xE0, 0xF0};
    char bytes[4];
    for (std::size_t i = length - 1; i > 0; --i) {
        bytes[i] = static_cast<char>(0x80 | (code_point & 0x3F));
        code_point >>= 6;
    }
    bytes[0] = static_cast<char>(kLeadMarks[length] | code_point);
    text.append(bytes, length);
}

}  // namespace

std::wstring to_wide(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        Utf8Sequence decoded = decode_utf8(text, at);
        if (decoded.length == 0) {
            wide += kReplacementCharacter;  // a byte no conversion of ours produced
            ++at;
            continue;
        }
        char32_t code_point = decoded.code_point;
        if (code_point >= 0x10000) {
            code_point -= 0x10000;
            wide += static_cast<wchar_t>(0xD800 + (code_point >> 10));
            wide += static_cast<wchar_t>(0xDC00 + (code_point & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(code_point);
        }
        at += decoded.length;
    }
    return wide;
}

std::string to_utf8(std::wstring_view text) {
    std::string utf8;
    utf8.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        char32_t unit = text[at];
        if (is_high_surrogate(unit) && at + 1 < text.size() && is_low_surrogate(text[at + 1])) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (text[at + 1] - 0xDC00);
            ++at;
        }
        append_utf8(unit, utf8);
    }
    return utf8;
}

std::string to_ansi_code_page(std::wstring_view text) {
    if (text.empty()) return {};
    // Told not to put look-alikes ("best fit") in place of what the code
    // page lacks; the few code pages that refuse that flag (UTF-8 among
    // them) convert without it.
    UINT code_page = ::GetACP();
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    int wide_length = static_cast<int>(text.size());
    int length = ::WideCharToMultiByte(code_page, flags, text.data(), wide_length, nullptr, 0, nullptr, nullptr);
    if (length == 0) {
        flags = 0;
        length = ::WideCharToMultiByte(code_page, flags, text.data(), wide_length, nullptr, 0, nullptr, nullptr);
    }
    std::string ansi(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(code_page, flags, text.data(), wide_length, ansi.data(), length, nullptr, nullptr);
    return ansi;
}

}  // namespace kestrane::platform
