// What a fuzz target does when one of its checks breaks: it says which, under
// its own name (kTargetName, which each target defines), and aborts, so that
// libFuzzer keeps the input. And the scratch folder and files of the targets
// that read files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

inline std::filesystem::path& scratch_folder() {
    static std::filesystem::path folder;
    return folder;
}

inline void remove_scratch_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch_folder(), ignored);
}

// A folder of the target's own for its scratch files, under TMPDIR (else
// /dev/shm, else /tmp), removed when the target ends.
inline std::filesystem::path make_scratch_folder() {
    namespace fs = std::filesystem;
    const char* base = std::getenv("TMPDIR");
    fs::path parent = base != nullptr ? fs::path(base) : fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::path("/tmp");
    std::string pattern = (parent / "kestrane-fuzz-XXXXXX").string();
    check(::mkdtemp(pattern.data()) != nullptr, "cannot make a scratch folder");
    scratch_folder() = pattern;
    std::atexit(remove_scratch_folder);
    return scratch_folder();
}
