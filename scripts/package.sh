#!/usr/bin/env bash
# Builds the release packages from this tree into build/packages/:
#   kestrane_<version>_<arch>.deb   the Linux package
#   kestrane-<version>-win64.zip    kestrane.exe, README.md and LICENSE, cross-built
#                                   with MinGW-w64 (only when the Windows build,
#                                   cmake/toolchain-mingw64.cmake, is in the tree)
# Installs what it needs first (Debian apt).
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/packages
toolchain=cmake/toolchain-mingw64.cmake

bash scripts/need-packages.sh cmake g++ make dpkg-dev file
rm -rf "$out"
mkdir -p "$out"

# Builds the tree in folder $1, runs cpack there and copies the package it
# made (a file ending in .$2) into $out. Further arguments go to cmake.
package() {
  local build=$1 kind=$2
  shift 2
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTRANE_BUILD_TESTS=OFF "$@" >/dev/null
  cmake --build "$build" -j2 >/dev/null
  rm -f "$build"/kestrane*."$kind"
  (cd "$build" && cpack) >"$build/cpack.log" 2>&1 || { cat "$build/cpack.log" >&2; exit 1; }
  local made=("$build"/kestrane*."$kind")
  if [ ! -f "${made[0]}" ]; then
    echo "cpack made no .$kind in $build" >&2
    exit 1
  fi
  cp "${made[@]}" "$out"/
}

echo "== Linux package"
package build/package-linux deb

if [ -f "$toolchain" ]; then
  echo "== Windows zip"
  bash scripts/need-packages.sh g++-mingw-w64-x86-64
  package build/package-windows zip -DCMAKE_TOOLCHAIN_FILE="$toolchain"
else
  echo "== Windows zip SKIPPED: $toolchain is not in this tree, so there is no Windows build"
fi

echo "== packages in $out:"
ls -l "$out"
