#!/usr/bin/env bash
# Builds the Linux tool with warnings as errors and runs its test suite,
# the shell completions' tests in bash, zsh and fish included.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/need-packages.sh cmake g++ make googletest libgtest-dev pkg-config libtag1-dev python3 \
  bash-completion zsh fish libfuse3-dev fuse3
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRANE_WARNINGS_AS_ERRORS=ON \
  -DKESTRANE_REQUIRE_INTEROP=ON -DKESTRANE_REQUIRE_COMPLETION_SHELLS=ON -DKESTRANE_REQUIRE_TESTFS=ON
cmake --build build/native -j"$(nproc)"
ctest --test-dir build/native --output-on-failure --no-tests=error -j2
