// Messages filled in: each '%s' or '%c' with a value, each '%d' with a count.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kestrane {

// The message with its one '%s' or '%c' (if any) replaced by value.
std::string filled(std::string_view message, std::string_view value);

// The message with each '%d' in turn replaced by a count.
std::string counted(std::string_view message, std::initializer_list<std::size_t> counts);

}  // namespace kestrane
