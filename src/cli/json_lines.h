// The pieces of a JSON Lines report: UTF-8, one object a line.
#pragma once

#include <string>
#include <string_view>

namespace kestrane::json {

// Appends the text as a JSON value: a string when it is valid UTF-8, with
// '"', '\' and every control character escaped; otherwise, so that every
// name survives, the object {"bytes":"<base64 of its bytes>"}. Where names
// may hold unpaired UTF-16 surrogates (Windows), the three bytes that carry
// one are written as its "\uXXXX" escape, and such a name stays a string.
void append_text(std::string& json, std::string_view text);

// Appends the bytes in base64 (RFC 4648, with padding).
void append_base64(std::string& json, std::string_view bytes);

}  // namespace kestrane::json
