// The console on Windows: processed input only (line input and echo off),
// and input typed ahead discarded. Fails harmlessly when standard input is
// no console.
#include "platform/console.h"

#include <windows.h>

namespace kestrane::platform {

void init_console() {
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    ::SetConsoleMode(input, ENABLE_PROCESSED_INPUT);
    ::FlushConsoleInputBuffer(input);
}

}  // namespace kestrane::platform
