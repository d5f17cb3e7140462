#!/usr/bin/env bash
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs the suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/need-packages.sh cmake g++ make googletest libgtest-dev pkg-config libtag1-dev
cmake -S . -B build/sanitized -DCMAKE_BUILD_TYPE=Debug -DKESTRANE_WARNINGS_AS_ERRORS=ON -DKESTRANE_SANITIZE=ON \
  -DKESTRANE_REQUIRE_INTEROP=ON
cmake --build build/sanitized -j"$(nproc)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitized --output-on-failure -j2
