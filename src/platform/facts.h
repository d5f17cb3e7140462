// What the platform is, as constants of the build: which characters
// separate path components, which start a group of option letters, the
// prefix that marks a path the system takes as it stands, and what names
// may hold. This header states facts only; the mechanisms are behind the
// other headers here (files, listing, arguments, standard descriptors,
// output, signals, console), each with a posix_ and a windows_
// implementation, exactly one of which a build compiles.
#pragma once

#include <string_view>

namespace kestrane::platform {

#if defined(_WIN32)
inline constexpr std::string_view kPathSeparators = "\\/:";
inline constexpr char kPathSeparator = '\\';  // the one paths are built with
inline constexpr std::string_view kOptionStarts = "-/";
// A path typed as \\?\C:\... goes to the system unchanged; its '?' is part
// of the prefix, not a wildcard.
inline constexpr std::string_view kVerbatimPathPrefix = "\\\\?\\";
// Names are UTF-16 to the system, which allows unpaired surrogates: the
// tool's UTF-8 then carries each as a three-byte sequence of its own.
inline constexpr bool kNamesMayHoldLoneSurrogates = true;
#else
inline constexpr std::string_view kPathSeparators = "/";
inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kOptionStarts = "-";
inline constexpr std::string_view kVerbatimPathPrefix = "";  // none: every '?' is a wildcard
inline constexpr bool kNamesMayHoldLoneSurrogates = false;    // names are bytes
#endif

constexpr bool is_path_separator(char c) { return kPathSeparators.find(c) != std::string_view::npos; }
constexpr bool is_option_start(char c) { return kOptionStarts.find(c) != std::string_view::npos; }

}  // namespace kestrane::platform
