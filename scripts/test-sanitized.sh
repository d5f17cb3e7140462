#!/usr/bin/env bash
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs the
# suite with eight pairs in flight from the first pair (KESTRANE_JOBS=8; the
# native stage runs it as a user gets it: one pair at a time while pairs are
# quick).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/need-packages.sh cmake g++ make googletest libgtest-dev pkg-config libtag1-dev libfuse3-dev fuse3
cmake -S . -B build/sanitized -DCMAKE_BUILD_TYPE=Debug -DKESTRANE_WARNINGS_AS_ERRORS=ON -DKESTRANE_SANITIZE=ON \
  -DKESTRANE_REQUIRE_INTEROP=ON -DKESTRANE_REQUIRE_TESTFS=ON
cmake --build build/sanitized -j"$(nproc)"
KESTRANE_JOBS=8 ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitized --output-on-failure --no-tests=error -j2
