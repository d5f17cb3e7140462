// How paths are written where the tool is built, as constants: which
// characters separate path components, the one paths are built with, the
// prefix that marks a path the system takes as it stands, and what names may
// hold. Facts only, no system header: the name rules and every layer above
// them read them.
#pragma once

#include <string_view>

namespace kestrane {

#if defined(_WIN32)
inline constexpr std::string_view kPathSeparators = "\\/:";
inline constexpr char kPathSeparator = '\\';  // the one paths are built with
// A path typed as \\?\C:\... goes to the system unchanged; its '?' is part
// of the prefix, not a wildcard.
inline constexpr std::string_view kVerbatimPathPrefix = "\\\\?\\";
// Names are UTF-16 to the system, which allows unpaired surrogates: the
// tool's UTF-8 then carries each as a three-byte sequence of its own.
inline constexpr bool kNamesMayHoldLoneSurrogates = true;
#else
inline constexpr std::string_view kPathSeparators = "/";
inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kVerbatimPathPrefix;  // none: every '?' is a wildcard
inline constexpr bool kNamesMayHoldLoneSurrogates = false;    // names are bytes
#endif

constexpr bool is_path_separator(char c) { return kPathSeparators.find(c) != std::string_view::npos; }

}  // namespace kestrane
