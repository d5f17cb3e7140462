// libFuzzer target for the JSON Lines writer (cli/json_lines.h).
//
// The input is a name: any bytes, as POSIX systems allow. append_text writes
// it as a JSON value, which a strict JSON parser written here (RFC 8259: no
// control character unescaped, only the escapes JSON has, UTF-8 throughout,
// nothing after the value) must read back, decoded by the manual's rule, to
// exactly the same bytes:
// - a JSON string, taken for the name's UTF-8, when the name is well-formed
//   UTF-8 (and only then);
// - otherwise an object with the one member "bytes", a string holding the
//   name in base64 (RFC 4648 with padding, read strictly: no other letter,
//   no bit left over).
// Where names may carry unpaired UTF-16 surrogates (Windows), such a
// surrogate comes as its \uXXXX escape in a string, decoded here to the
// three bytes that carry it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/json_lines.h"
#include "fuzz/plain_utf8.h"

namespace {

#if defined(_WIN32)
constexpr bool kNamesCarrySurrogates = true;
#else
constexpr bool kNamesCarrySurrogates = false;
#endif

[[noreturn]] void fail(const char* what, std::string_view json) {
    std::fprintf(stderr, "json_lines_fuzzer: %s\n  written: %.*s\n", what, static_cast<int>(json.size()), json.data());
    std::abort();
}

bool is_well_formed(std::string_view text, bool surrogates_allowed) {
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = kestrane::fuzz::well_formed_length(text, at, surrogates_allowed);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

void append_utf8(std::string& out, std::uint32_t code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

// A strict reader of the JSON values the writer may make: strings and
// objects (numbers and the literals are never written for a name, and
// are not read). Every fault is an empty optional.
struct Reader {
    std::string_view text;
    std::size_t at = 0;

    using Object = std::vector<std::pair<std::string, std::string>>;  // string members only

    void skip_space() {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) ++at;
    }

    bool take(char c) {
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    }

    std::optional<std::uint32_t> hex4() {
        if (text.size() - at < 4) return std::nullopt;
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            char c = text[at++];
            int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0) return std::nullopt;
            value = value << 4 | static_cast<std::uint32_t>(digit);
        }
        return value;
    }

    std::optional<std::string> string() {
        if (!take('"')) return std::nullopt;
        std::string out;
        while (true) {
            if (at == text.size()) return std::nullopt;
            auto c = static_cast<unsigned char>(text[at]);
            if (c == '"') {
                ++at;
                return out;
            }
            if (c < 0x20) return std::nullopt;
            if (c != '\\') {
                std::size_t length = kestrane::fuzz::well_formed_length(text, at, false);
                if (length == 0) return std::nullopt;
                out.append(text.substr(at, length));
                at += length;
                continue;
            }
            ++at;
            if (at == text.size()) return std::nullopt;
            char e = text[at++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    std::optional<std::uint32_t> unit = hex4();
                    if (!unit) return std::nullopt;
                    std::uint32_t code_point = *unit;
                    if (code_point >= 0xD800 && code_point <= 0xDBFF && text.substr(at, 2) == "\\u") {
                        std::size_t back = at;
                        at += 2;
                        std::optional<std::uint32_t> low = hex4();
                        if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
                            code_point = 0x10000 + ((code_point - 0xD800) << 10) + (*low - 0xDC00);
                        } else {
                            at = back;  // a lone high surrogate, then another escape
                        }
                    }
                    bool lone_surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
                    if (lone_surrogate && !kNamesCarrySurrogates) return std::nullopt;
                    append_utf8(out, code_point);
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
    }

    std::optional<Object> object() {
        if (!take('{')) return std::nullopt;
        Object members;
        skip_space();
        if (take('}')) return members;
        while (true) {
            skip_space();
            std::optional<std::string> key = string();
            skip_space();
            if (!key || !take(':')) return std::nullopt;
            skip_space();
            std::optional<std::string> value = string();
            if (!value) return std::nullopt;
            members.emplace_back(std::move(*key), std::move(*value));
            skip_space();
            if (take('}')) return members;
            if (!take(',')) return std::nullopt;
        }
    }
};

// RFC 4648 base64 with padding, strictly: whole groups of four, '=' only at
// the end, no bits set past the last byte.
std::optional<std::string> base64_decode(std::string_view text) {
    constexpr std::string_view kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    for (std::size_t at = 0; at < text.size(); at += 4) {
        bool last = at + 4 == text.size();
        std::string_view group = text.substr(at, 4);
        std::size_t padding = group.ends_with("==") ? 2 : group.ends_with("=") ? 1 : 0;
        if (padding > 0 && !last) return std::nullopt;
        std::uint32_t bits = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            std::size_t digit = i < 4 - padding ? kDigits.find(group[i]) : 0;
            if (digit == std::string_view::npos) return std::nullopt;
            bits = bits << 6 | static_cast<std::uint32_t>(digit);
        }
        std::size_t bytes = 3 - padding;
        if ((bits & ((1u << (8 * padding)) - 1)) != 0) return std::nullopt;  // bits past the last byte
        for (std::size_t i = 0; i < bytes; ++i) out += static_cast<char>((bits >> (16 - 8 * i)) & 0xFF);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view name(reinterpret_cast<const char*>(data), size);
    std::string json = "{\"output\":";  // as on a report line: appended to what stands there
    std::size_t value_start = json.size();
    kestrane::json::append_text(json, name);
    std::string_view value = std::string_view(json).substr(value_start);

    if (value.find('\n') != std::string_view::npos) fail("a line break inside a JSON line", value);
    if (!is_well_formed(value, false)) fail("the JSON text is not UTF-8", value);
    Reader reader{value};
    std::string decoded;
    bool as_string = !value.empty() && value.front() == '"';
    if (as_string) {
        std::optional<std::string> text = reader.string();
        if (!text) fail("not a valid JSON string", value);
        decoded = std::move(*text);
    } else {
        std::optional<Reader::Object> object = reader.object();
        if (!object) fail("neither a valid JSON string nor a valid object", value);
        if (object->size() != 1 || (*object)[0].first != "bytes") fail("an object other than {\"bytes\":...}", value);
        std::optional<std::string> bytes = base64_decode((*object)[0].second);
        if (!bytes) fail("\"bytes\" is not strict base64", value);
        decoded = std::move(*bytes);
    }
    if (reader.at != value.size()) fail("something after the value", value);
    if (decoded != name) fail("the name does not come back byte for byte", value);
    if (as_string != is_well_formed(name, kNamesCarrySurrogates)) {
        fail(as_string ? "a name that is not UTF-8 written as a string" : "a UTF-8 name written in base64", value);
    }
    return 0;
}
