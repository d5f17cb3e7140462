#include "cli/json_lines.h"

#include <algorithm>
#include <cstdint>

#include "names/path_facts.h"
#include "names/utf8.h"

namespace kestrane::json {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool is_surrogate(char32_t code_point) { return code_point >= 0xD800 && code_point <= 0xDFFF; }

bool is_json_string(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        Utf8Sequence decoded = decode_utf8(text, at);
        if (decoded.length == 0) return false;
        if (is_surrogate(decoded.code_point) && !kNamesMayHoldLoneSurrogates) return false;
        at += decoded.length;
    }
    return true;
}

void append_unicode_escape(std::string& json, char32_t unit) {
    json += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) json += kHexDigits[(unit >> shift) & 0xF];
}

void append_string(std::string& json, std::string_view text) {
    json += '"';
    for (std::size_t at = 0; at < text.size();) {
        Utf8Sequence decoded = decode_utf8(text, at);
        char32_t c = decoded.code_point;
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c == '\n') {
            json += "\\n";
        } else if (c == '\r') {
            json += "\\r";
        } else if (c == '\t') {
            json += "\\t";
        } else if (c < 0x20 || is_surrogate(c)) {
            append_unicode_escape(json, c);
        } else {
            json.append(text.substr(at, decoded.length));
        }
        at += decoded.length;
    }
    json += '"';
}

}  // namespace

void append_base64(std::string& json, std::string_view bytes) {
    constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
        std::size_t taken = std::min<std::size_t>(3, bytes.size() - at);
        std::uint32_t group = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            group = (group << 8) | (i < taken ? static_cast<unsigned char>(bytes[at + i]) : 0u);
        }
        for (std::size_t i = 0; i < 4; ++i) json += i <= taken ? kDigits[(group >> (18 - 6 * i)) & 0x3F] : '=';
    }
}

void append_text(std::string& json, std::string_view text) {
    if (is_json_string(text)) return append_string(json, text);
    json += R"({"bytes":")";
    append_base64(json, text);
    json += "\"}";
}

}  // namespace kestrane::json
