#!/usr/bin/env bash
# Builds with ThreadSanitizer and runs the suite with eight pairs in flight
# from the first pair (KESTRANE_JOBS=8), so that the workers run under the
# race detector in every test of enough pairs. A report ends the tool with an
# error and fails its test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/need-packages.sh cmake g++ make googletest libgtest-dev pkg-config libtag1-dev libfuse3-dev fuse3
cmake -S . -B build/thread-sanitized -DCMAKE_BUILD_TYPE=Debug -DKESTRANE_WARNINGS_AS_ERRORS=ON \
  -DKESTRANE_SANITIZE_THREADS=ON -DKESTRANE_REQUIRE_INTEROP=ON -DKESTRANE_REQUIRE_TESTFS=ON
cmake --build build/thread-sanitized -j"$(nproc)"
KESTRANE_JOBS=8 TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build/thread-sanitized --output-on-failure --no-tests=error -j2
