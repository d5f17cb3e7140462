// The command line on Windows: the wide command line, which holds every
// character the user typed, split into arguments and taken as UTF-8.
#include "platform/arguments.h"

#include <new>

#include "platform/windows_text.h"

// The C runtime would otherwise expand '*' and '?' in the arguments itself;
// the tool lists files by its own rules, so the wildcards must reach it.
extern "C" int _CRT_glob = 0;

// The C runtime's splitting of the wide command line into arguments, the
// same rules (quotes, backslashes) by which it made the ANSI ones for main.
extern "C" {
struct CrtStartupInformation {
    int new_mode;
};
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the C runtime's own name
__declspec(dllimport) int __cdecl __wgetmainargs(int* count, wchar_t*** arguments, wchar_t*** environment,
                                                 int expand_wildcards, CrtStartupInformation* startup);
}

namespace kestrane::platform {

std::vector<std::string> command_line_arguments(int, char**) {
    int count = 0;
    wchar_t** arguments = nullptr;
    wchar_t** environment = nullptr;
    CrtStartupInformation startup{0};
    if (__wgetmainargs(&count, &arguments, &environment, 0, &startup) < 0) throw std::bad_alloc();
    std::vector<std::string> texts;
    for (int i = 1; i < count; ++i) texts.push_back(to_utf8(arguments[i]));
    return texts;
}

}  // namespace kestrane::platform
