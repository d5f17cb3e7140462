// Sets the attributes of files the way a Windows user would:
//   set_file_attributes LETTERS PATH [LETTERS PATH]...
// LETTERS holds r (read-only), h (hidden) and s (system); "-" clears all.
// Exits with 1 and a message on standard error at the first failure.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

bool attributes_from(const char* letters, DWORD& attributes) {
    attributes = 0;
    if (std::strcmp(letters, "-") == 0) {
        attributes = FILE_ATTRIBUTE_NORMAL;
        return true;
    }
    for (const char* letter = letters; *letter != '\0'; ++letter) {
        switch (*letter) {
            case 'r': attributes |= FILE_ATTRIBUTE_READONLY; break;
            case 'h': attributes |= FILE_ATTRIBUTE_HIDDEN; break;
            case 's': attributes |= FILE_ATTRIBUTE_SYSTEM; break;
            default: return false;
        }
    }
    return attributes != 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: set_file_attributes LETTERS PATH [LETTERS PATH]...\n");
        return 1;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        DWORD attributes = 0;
        if (!attributes_from(argv[i], attributes) || !::SetFileAttributesA(argv[i + 1], attributes)) {
            std::fprintf(stderr, "set_file_attributes: cannot set %s on %s\n", argv[i], argv[i + 1]);
            return 1;
        }
    }
    return 0;
}
