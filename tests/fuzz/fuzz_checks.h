// What a fuzz target does when one of its checks breaks: it says which, under
// its own name (kTargetName, which each target defines), and aborts, so that
// libFuzzer keeps the input. And the scratch files the file targets write.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern const char* const kTargetName;

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "%s: %s\n", kTargetName, what);
    std::abort();
}

inline void check(bool holds, const char* what) {
    if (!holds) fail(what);
}

inline void write_whole(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    check(file != nullptr, "cannot create a scratch file");
    check(bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(), "cannot write");
    check(std::fclose(file) == 0, "cannot write");
}
