#!/usr/bin/env bash
# Cross-builds the Windows kestrane.exe with mingw-w64, checks that it needs
# no DLL beyond the system's, and runs the unit tests and the end-to-end
# tests under wine (in a scratch wine prefix, no display, no debug output).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/need-packages.sh cmake g++ make googletest libgtest-dev \
  mingw-w64 g++-mingw-w64-x86-64 wine wine64 locales

cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DKESTRANE_WARNINGS_AS_ERRORS=ON
cmake --build build/windows -j2

bash scripts/check-windows-imports.sh build/windows/src/kestrane.exe

# The end-to-end driver is a Linux program that starts kestrane.exe under wine.
cmake -S tests/windows/under_wine -B build/under-wine -DKESTRANE_WARNINGS_AS_ERRORS=ON \
  -DKESTRANE_WINDOWS_BUILD_DIR="$PWD/build/windows"
cmake --build build/under-wine -j2

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/kestrane-wine.XXXXXX")
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
# Wine takes Linux file names and arguments as UTF-8, and gives the prefix
# the Western ANSI code page (1252) the tests expect; one of them makes a
# Japanese locale of its own (hence the locales package).
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
stop_wine() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap stop_wine EXIT
# One server for the whole stage, so each test process starts in a fraction
# of a second; then the prefix is made, once.
wineserver -p
# Wine's background services keep the output of the process that started
# them open until the server ends: they get a log file, not our output.
echo "== making a wine prefix in $WINEPREFIX"
if ! wineboot --init </dev/null >"$WINEPREFIX/wineboot.log" 2>&1; then
  cat "$WINEPREFIX/wineboot.log" >&2
  exit 1
fi

ctest --test-dir build/windows --output-on-failure --no-tests=error </dev/null
ctest --test-dir build/under-wine --output-on-failure </dev/null
