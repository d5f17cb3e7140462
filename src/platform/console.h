// The console the tool is started from.
#pragma once

namespace kestrane::platform {

// Discards input typed ahead at the console before files are touched (on
// Windows also sets processed input only: line input and echo off).
void init_console();

}  // namespace kestrane::platform
