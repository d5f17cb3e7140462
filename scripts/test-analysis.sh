#!/usr/bin/env bash
# Analysis stage: clang-tidy with the checks of .clang-tidy over every source
# of src/, the POSIX build's and the Windows build's (the latter read as
# clang would compile it for x86_64-w64-mingw32, with mingw-w64's headers).
# Any finding fails the stage. Only the compilation databases are made: a
# configure, no build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/need-packages.sh cmake make clang clang-tidy python3 mingw-w64 g++-mingw-w64-x86-64

cmake -S . -B build/analysis -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DKESTRANE_BUILD_TESTS=OFF >/dev/null
cmake -S . -B build/analysis-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DKESTRANE_BUILD_TESTS=OFF >/dev/null

# Clang does not find the C++ library of Debian's mingw-w64 g++ by itself:
# the Windows sources get g++'s own include folders (asked of g++, so a new
# version is found too), with clang's built-in headers in place of gcc's.
mingw_gxx=x86_64-w64-mingw32-g++-posix
windows_args=(-extra-arg-before=--target=x86_64-w64-mingw32 -extra-arg=-nostdinc)
while read -r folder; do
  case $folder in
    */include-fixed) ;;
    */../*) windows_args+=("-extra-arg=-isystem$folder") ;;  # mingw-w64's C and Windows headers
    */lib/gcc/*/include) windows_args+=("-extra-arg=-isystem$(clang++ -print-resource-dir)/include") ;;
    *) windows_args+=("-extra-arg=-isystem$folder") ;;
  esac
done < <(echo | "$mingw_gxx" -std=c++20 -E -x c++ - -v 2>&1 | sed -n '/<\.\.\.> search starts/,/End of search/p' | sed -n 's/^ //p')

status=0
echo "== clang-tidy: POSIX sources"
run-clang-tidy -j2 -quiet -p build/analysis '/src/' || status=1
echo "== clang-tidy: Windows sources (x86_64-w64-mingw32)"
run-clang-tidy -j2 -quiet -p build/analysis-windows "${windows_args[@]}" '/src/' || status=1
if [ $status -ne 0 ]; then
  echo "!! clang-tidy found something: fix it, or where it is wrong say why in a NOLINT(check) comment"
fi
exit $status
