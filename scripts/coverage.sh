#!/usr/bin/env bash
# Measures how much of src/ the native test suite runs: a Debug build with
# --coverage in build/coverage, the suite run once, then gcovr's line and
# branch figures for every file of src/ (build/coverage/coverage.txt) and
# the totals. Not a CI stage: it takes as long as a build and a test run.
# Branches that only an exception thrown would take are left out of the
# branch figure (every call that may throw has one).
# The tool runs in the tests as its own process: what a run killed by a
# signal, or run as another user (the tests drop to nobody as root), did
# is not counted, so a few lines show as missed that tests do run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/need-packages.sh cmake g++ make googletest libgtest-dev pkg-config python3 gcovr
# Atomic counters: the tool's worker threads count the same lines at once.
cmake -S . -B build/coverage -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic" -DCMAKE_C_FLAGS=--coverage \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage
cmake --build build/coverage -j2
find build/coverage -name '*.gcda' -delete
ctest --test-dir build/coverage --no-tests=error -j2 || echo "!! some tests failed: the figures count what ran"
gcovr -r . --filter src/ --exclude-throw-branches --gcov-ignore-parse-errors --branches \
  -o build/coverage/branches.txt build/coverage
gcovr -r . --filter src/ --exclude-throw-branches --gcov-ignore-parse-errors --print-summary \
  -o build/coverage/coverage.txt build/coverage
echo "== per file: build/coverage/coverage.txt (lines), build/coverage/branches.txt (branches)"
